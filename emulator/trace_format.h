// One-line descriptions of messages for --trace, with numbers decoded.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace tqbse::emu {

// "Name(n=5, d=1e+09, s[12]\"first bytes\", da[4096]{0, 1, 2, ...})": ints,
// floats and doubles decoded, texts by length and their first printable
// bytes, arrays by length and first values. Undecodable tokens are shown
// raw (shortened).
QByteArray describeMessage(QByteArrayView message);

} // namespace tqbse::emu
