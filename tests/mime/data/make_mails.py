#!/usr/bin/env python3
"""Writes the test mails of this folder. Run once; the files are kept in git.

Japanese text is written the way Japanese mailers send it; the Windows
extension characters (circled digits, roman numerals, (kabu)) are put into
ISO-2022-JP by hand, since they are not in JIS X 0208 proper.
"""
import base64
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ESC_K = b"\x1b$B"
ESC_A = b"\x1b(B"


def sjis_to_jis(s1, s2):
    """JIS row/cell bytes of a Shift_JIS pair (the inverse of the mailers' arithmetic)."""
    s1 -= 0xB0 if s1 >= 0xE0 else 0x70
    s1 <<= 1
    if s2 >= 0x9F:
        return bytes([s1, s2 - 0x7E])
    return bytes([s1 - 1, s2 - (0x20 if s2 >= 0x80 else 0x1F)])


def jis(text):
    """ISO-2022-JP bytes of `text`, written through code page 932, so that the
    Windows extension characters (row 13: circled digits, roman numerals, (kabu))
    come out as Japanese mailers send them."""
    out = b""
    mode = "a"
    for ch in text:
        if ord(ch) < 0x80:
            if mode != "a":
                out += ESC_A
                mode = "a"
            out += ch.encode("ascii")
            continue
        sj = ch.encode("cp932")
        if mode != "k":
            out += ESC_K
            mode = "k"
        out += sjis_to_jis(sj[0], sj[1])
    if mode != "a":
        out += ESC_A
    return out


def b_word(charset, raw):
    return b"=?" + charset.encode() + b"?B?" + base64.b64encode(raw) + b"?="


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"))


# 1. ISO-2022-JP with Windows extension characters in subject, sender name and body.
write("iso2022jp_ext.eml",
      b"From: " + b_word("ISO-2022-JP", jis("山田太郎")) + b" <taro@example.jp>\n"
      b"To: hanako@example.jp\n"
      b"Subject: " + b_word("ISO-2022-JP", jis("会議①Ⅱ㈱のご案内")) + b"\n"
      b"Date: Mon, 7 Dec 2026 10:15:00 +0900\n"
      b"MIME-Version: 1.0\n"
      b"Content-Type: text/plain; charset=ISO-2022-JP\n"
      b"Content-Transfer-Encoding: 7bit\n"
      b"\n" + jis("お世話になります。\n議題は①予算、②日程、Ⅲ部の件です。\n株式会社は㈱と書きます～\n"))

# 2. Encoded words split in the middle of a character (UTF-8 and ISO-2022-JP).
utf8 = "日本語の件名".encode("utf-8")
iso = jis("分割された件名")
write("split_words.eml",
      b"From: Sender <s@example.jp>\n"
      b"Subject: " + b_word("UTF-8", utf8[:4]) + b"\n " + b_word("UTF-8", utf8[4:]) + b"\n"
      b"X-Split-Iso: " + b_word("ISO-2022-JP", iso[:7]) + b" " + b_word("ISO-2022-JP", iso[7:]) + b"\n"
      b"Date: Tue, 8 Dec 2026 09:00:00 +0900\n"
      b"\n"
      b"plain body\n")

# 3. Unlabelled 8-bit Shift_JIS in the header, a Shift_JIS (CP932) body.
write("sjis_unlabelled.eml",
      "From: 鈴木 <suzuki@example.jp>\nSubject: 見積書①の送付\n".encode("cp932") +
      b"Date: Wed, 9 Dec 2026 12:00:00 +0900\n"
      b"Content-Type: text/plain; charset=Shift_JIS\n"
      b"Content-Transfer-Encoding: 8bit\n\n" +
      "見積書をお送りします。②番の項目をご確認ください～\n".encode("cp932"))

# 4. EUC-JP body, EUC-JP encoded subject, unlabelled EUC-JP sender name.
write("eucjp.eml",
      b"From: " + "佐藤".encode("euc_jp") + b" <sato@example.jp>\n"
      b"Subject: " + b_word("EUC-JP", "日本語のテスト".encode("euc_jp")) + b"\n"
      b"Date: Thu, 10 Dec 2026 08:30:00 +0900\n"
      b"Content-Type: text/plain; charset=EUC-JP\n"
      b"Content-Transfer-Encoding: 8bit\n\n" +
      "これはEUC-JPの本文です。\n".encode("euc_jp"))

# 5. UTF-8, quoted-printable body, Q-encoded subject.
body = "こんにちは、世界。\n二行目です。\n".encode("utf-8")
qp = "".join("=%02X" % b if b >= 0x80 or b == 0x3D else chr(b) for b in body).encode()
write("utf8_qp.eml",
      b"From: \"Tanaka, Ichiro\" <ichiro@example.jp>\n"
      b"Subject: =?utf-8?Q?" + "".join("=%02X" % b for b in "お知らせ".encode()).encode() + b"_No.1?=\n"
      b"Date: Fri, 11 Dec 2026 18:00:00 +0900\n"
      b"Content-Type: text/plain; charset=utf-8\n"
      b"Content-Transfer-Encoding: quoted-printable\n\n" + qp)

# 6. Multipart with attachments: RFC 2231 continued name, RFC 2047 name, and
#    hostile names.
pdf = b"%PDF-1.4 fake document\n"
png = bytes(range(256))
b64 = lambda data: base64.encodebytes(data)
name2231 = "報告書（最終版）.pdf".encode("utf-8")
pct = "".join("%%%02X" % b for b in name2231)
write("multipart_attach.eml",
      b"From: Boss <boss@example.jp>\n"
      b"Subject: " + b_word("ISO-2022-JP", jis("資料送付")) + b"\n"
      b"Date: Sat, 12 Dec 2026 07:00:00 +0900\n"
      b"MIME-Version: 1.0\n"
      b"Content-Type: multipart/mixed; boundary=\"==BOUNDARY==\"\n\n"
      b"This is a multi-part message in MIME format.\n"
      b"--==BOUNDARY==\n"
      b"Content-Type: text/plain; charset=ISO-2022-JP\n"
      b"Content-Transfer-Encoding: 7bit\n\n" + jis("資料を添付します。\n") +
      b"--==BOUNDARY==\n"
      b"Content-Type: application/pdf\n"
      b"Content-Transfer-Encoding: base64\n"
      b"Content-Disposition: attachment;\n"
      b" filename*0*=UTF-8''" + pct[:30].encode() + b";\n"
      b" filename*1*=" + pct[30:].encode() + b"\n\n" + b64(pdf) +
      b"--==BOUNDARY==\n"
      b"Content-Type: image/png; name=\"" + b_word("ISO-2022-JP", jis("写真１.png")) + b"\"\n"
      b"Content-Transfer-Encoding: base64\n"
      b"Content-Disposition: attachment\n\n" + b64(png) +
      b"--==BOUNDARY==\n"
      b"Content-Type: text/plain; name=\"../../evil.txt\"\n"
      b"Content-Disposition: attachment; filename=\"../../evil.txt\"\n\n"
      b"not outside\n"
      b"--==BOUNDARY==\n"
      b"Content-Type: application/octet-stream\n"
      b"Content-Disposition: attachment; filename=\"CON.txt\"\n"
      b"Content-Transfer-Encoding: base64\n\n" + b64(b"device") +
      b"--==BOUNDARY==\n"
      b"Content-Type: application/octet-stream\n"
      b"Content-Disposition: attachment; filename=\"a\\\\b\x01c.bin\"\n"
      b"Content-Transfer-Encoding: base64\n\n" + b64(b"ctrl") +
      b"--==BOUNDARY==--\n")

# 7. HTML only.
html = ("<html><head><style>p {color:red}</style><script>alert(1)</script></head>"
        "<body><p>こんにちは&amp;ようこそ</p><div>二行目&nbsp;です&#x2460;</div>"
        "<br>三行目</body></html>").encode("utf-8")
write("html_only.eml",
      b"From: news@example.jp\n"
      b"Subject: HTML\n"
      b"Date: Sun, 13 Dec 2026 10:00:00 +0900\n"
      b"Content-Type: text/html; charset=UTF-8\n"
      b"Content-Transfer-Encoding: base64\n\n" + b64(html))

# 8. Alternative: the plain part wins.
write("alternative.eml",
      b"From: Shop <shop@example.jp>\n"
      b"Subject: alt\n"
      b"Date: Mon, 14 Dec 2026 10:00:00 +0900\n"
      b"Content-Type: multipart/alternative; boundary=alt\n\n"
      b"--alt\nContent-Type: text/plain; charset=utf-8\n\n" + "平文の本文\n".encode() +
      b"--alt\nContent-Type: text/html; charset=utf-8\n\n" + "<p>HTMLの本文</p>\n".encode() +
      b"--alt--\n")

# 9. Malformed: no closing boundary, broken base64, NUL bytes.
write("missing_boundary.eml",
      b"From: a@example.jp\nSubject: broken\nContent-Type: multipart/mixed; boundary=xyz\n\n"
      b"--xyz\nContent-Type: text/plain; charset=utf-8\n\n" + "閉じない本文\n".encode() +
      b"--xyz\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=cut.bin\n"
      b"Content-Transfer-Encoding: base64\n\nAAEC\nAwQF\n")
write("broken_base64.eml",
      b"From: a@example.jp\nSubject: b64\nContent-Type: text/plain; charset=utf-8\n"
      b"Content-Transfer-Encoding: base64\n\n" + base64.b64encode("壊れた本文".encode())[:-3] + b"!!**%%\n@@@\n")
write("nul_bytes.eml",
      b"From: a@example.jp\nSubject: nul\x00here\nContent-Type: text/plain; charset=utf-8\n\n"
      b"before\x00after\nline two\n")

# 10. A message split into three message/partial pieces.
inner = (b"From: Big <big@example.jp>\nSubject: " + b_word("ISO-2022-JP", jis("分割メール")) + b"\n"
         b"MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=in\n\n"
         b"--in\nContent-Type: text/plain; charset=ISO-2022-JP\n\n" + jis("分割の本文\n") +
         b"--in\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"data.bin\"\n"
         b"Content-Transfer-Encoding: base64\n\n" + b64(bytes(range(256)) * 4) + b"--in--\n")
inner = inner.replace(b"\n", b"\r\n")
third = len(inner) // 3
pieces = [inner[:third], inner[third:2 * third], inner[2 * third:]]
for i, piece in enumerate(pieces, 1):
    total = "; total=3" if i == 3 else ""
    write("partial_%d.eml" % i,
          b"From: Big <big@example.jp>\nSubject: part\nMIME-Version: 1.0\n"
          b"Content-Type: message/partial; id=\"abc@example.jp\"; number=" + str(i).encode() + total.encode() +
          b"\n\n" + piece)

# 11. A carrier's bounce: UTF-8 text under ISO-2022-JP labels, in an encoded
#     subject and an 8-bit body, beside a part that really is ISO-2022-JP.
write("mislabelled_bounce.eml",
      b"From: MAILER-DAEMON <postmaster@example.ne.jp>\n"
      b"Subject: " + b_word("ISO-2022-JP", "配信不能のお知らせ".encode("utf-8")) + b"\n"
      b"Date: Tue, 15 Dec 2026 11:00:00 +0900\n"
      b"MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
      b"--b\nContent-Type: text/plain; charset=ISO-2022-JP\nContent-Transfer-Encoding: 8bit\n\n" +
      "送信先のメールアドレスが見つかりません。\n".encode("utf-8") +
      b"--b\nContent-Type: text/plain; charset=ISO-2022-JP\n\n" + jis("元のメール\n") +
      b"--b--\n")
