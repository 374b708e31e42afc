#include "emulator/trace_format.h"

#include <algorithm>
#include <vector>

#include "core/codec.h"

namespace tqbse::emu {
namespace {

constexpr qsizetype kTextShown = 24;
constexpr qsizetype kArrayShown = 3;

QByteArray printable(QByteArrayView text, qsizetype limit)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size() && i < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out.append(c >= 0x20 && c < 0x7f && c != '"' ? char(c) : '.');
    }
    if (text.size() > limit)
        out.append("...");
    return out;
}

QByteArray number(double v) { return QByteArray::number(v, 'g', 10); }

QByteArray describeToken(QByteArrayView token)
{
    if (token.startsWith("(n=")) {
        int32_t v = 0;
        if (codec::decodeInt(token, &v) == codec::kOk)
            return "n=" + QByteArray::number(v);
    } else if (token.startsWith("(f=")) {
        float v = 0;
        if (codec::decodeFloat(token, &v) == codec::kOk)
            return "f=" + number(v);
    } else if (token.startsWith("(d=")) {
        double v = 0;
        if (codec::decodeDouble(token, &v) == codec::kOk)
            return "d=" + number(v);
    } else if (token.startsWith("(s=")) {
        codec::DecodedString s;
        if (codec::decodeString(token, &s) == codec::kOk)
            return s.isNull ? QByteArray("s=NULL")
                            : "s[" + QByteArray::number(s.text.size()) + "]\"" + printable(s.text, kTextShown) + '"';
    } else if (token.startsWith("(da=")) {
        codec::DoubleArrayView view;
        if (codec::parseDoubleArray(token, &view) == codec::kOk) {
            // Decode only the values shown, however long the array.
            const codec::DoubleArrayView head{int32_t(std::min<qsizetype>(view.count, kArrayShown)), view.elements};
            std::vector<double> values(std::size_t(head.count));
            head.copyTo(values.data());
            QByteArray out = "da[" + QByteArray::number(view.count) + "]{";
            for (std::size_t i = 0; i < values.size(); ++i)
                out += (i ? ", " : "") + number(values[i]);
            if (view.count > kArrayShown)
                out += ", ...";
            return out + '}';
        }
    }
    return "raw[" + QByteArray::number(token.size()) + "]\"" + printable(token, kTextShown) + '"';
}

} // namespace

QByteArray describeMessage(QByteArrayView message)
{
    const codec::SplitMessage split = codec::splitMessage(message);
    QByteArray out = printable(split.name, 96);
    out.append('(');
    for (std::size_t i = 0; i < split.params.size(); ++i) {
        if (i)
            out.append(", ");
        out.append(describeToken(split.params[i]));
    }
    out.append(')');
    return out;
}

} // namespace tqbse::emu
