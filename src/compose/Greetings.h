#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace kestra {

// Ready-made texts of the compose window: the greeting phrases of its greeting
// box and the fortune that can be appended to a mail.

// The eight greeting phrases, in the order the greeting box lists them.
const QStringList &greetingPhrases();

// Fortune texts 1 to 12 (index 0 is text 1).
const QStringList &fortuneTexts();
// The line written above the fortune.
const QString &fortuneBanner();

// A random number r with 0 <= r < 1.
using RandomSource = std::function<float()>;
// The program's own source.
RandomSource systemRandom();

// Fortune number k = whole part of (r x 12 + 1), 1 to 12.
int drawFortuneNumber(const RandomSource &random);

// body, CR LF, CR LF, banner, CR LF, CR LF, fortune text k. Nothing follows.
QString withFortune(const QString &body, int k);

} // namespace kestra
