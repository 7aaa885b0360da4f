#include "compose/Greetings.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace kestra {

namespace {

const char16_t *const kGreetings[] = {
    u"御社益々ご清祥の事とお慶び申し上げます。",
    u"平素のご愛顧誠にありがとうございます。",
    u"平素は格別のご愛顧を賜り深謝申し上げます。",
    u"いつもお世話になっております。",
    u"メールありがとうございました。確かに受け取りました。",
    u"はじめまして、突然のメールで恐縮です。",
    u"こんにちわ。はじめてメールいたします。",
    u"こんにちわ。お変わりなく、お元気ですか？",
};

const char16_t *const kFortunes[] = {
    u"大吉：万事に良し！　慎重さを忘れず、尚かつアクティブに行動すれば、これまで停滞していた問題が次々と解決されて行きます。",
    u"大吉：思わぬ金運！！　浪費せず生きたお金の使い方を心がければ、これからも金運が上昇！",
    u"大吉：人間関係に好転あり。誤解から生じていた軋轢（あつれき）も解消し、お互いが良く見えるようになって行きます。",
    u"中吉：正しく可もなく不可もなし。凶事のなきことを素直に喜ぶべし。そうすれば尚運が開けます。",
    u"中吉：ほのぼの、小さな幸福感を味わえる一日。その満足を他人にも分け与えれば、明日は更に運気アップ！",
    u"中吉：万事スムーズ。しかし油断をすればたちまちにして運気下降。恐れぬことも大事ではあるが、謙虚さを忘れずに判断・行動をすべし。",
    u"中吉：両親からの教えを胸に刻んで行動すれば、意外なほどの好調に思わずニンマリ！　",
    u"中吉：ショッピングでのストレス発散が好転の契機となる。それでも浪費に注意。本当に必要な物に限定すべし。",
    u"吉：あなたの人柄で救われる局面有り。友人を大切にすれば、思わぬ人と再会するでしょう。",
    u"吉：紛失していたにもかかわらず気づいてなかった品物が、突然手元に戻ってきます。忘れていたけど、案外大切なもの・・・物とは限りません。",
    u"凶：鬼門「北東」注意！　部屋の北東に一掴みの盛り塩をし、お世話になった人たちに感謝の意を心に強く念じれば、吉に転じます。",
    u"凶：言動慎むべし。最大の配慮がなければ、運気、万事下降するおそれ有り。",
};

const char16_t kBanner[]
    = u"★★★　この占いは Kuretsu（ほたる便り）がアトランダムにチョイスしたものです（だからこそ占い♪）　送信者にも内容は判りませんので、あしからず・・・当たるも八卦、当たらぬも八卦。★★★";

QStringList toList(const char16_t *const *texts, int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out.append(QString::fromUtf16(texts[i]));
    return out;
}

} // namespace

const QStringList &greetingPhrases()
{
    static const QStringList list = toList(kGreetings, int(std::size(kGreetings)));
    return list;
}

const QStringList &fortuneTexts()
{
    static const QStringList list = toList(kFortunes, int(std::size(kFortunes)));
    return list;
}

const QString &fortuneBanner()
{
    static const QString banner = QString::fromUtf16(kBanner);
    return banner;
}

RandomSource systemRandom()
{
    return [] { return float(QRandomGenerator::global()->generateDouble()); };
}

int drawFortuneNumber(const RandomSource &random)
{
    const float r = random();
    const int k = int(std::floor(r * 12.0f + 1.0f));
    // A double just below 1 can round up to 1.0f on its way to single
    // precision; that must not make a thirteenth fortune.
    return std::clamp(k, 1, 12);
}

QString withFortune(const QString &body, int k)
{
    const QString crlf = QStringLiteral("\r\n");
    return body + crlf + crlf + fortuneBanner() + crlf + crlf + fortuneTexts().at(std::clamp(k, 1, 12) - 1);
}

} // namespace kestra
