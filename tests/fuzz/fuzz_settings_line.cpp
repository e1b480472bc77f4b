// The settings-line reader on arbitrary file contents. Whatever the bytes, reading either
// succeeds with values that write back and read again unchanged, or fails with one of the
// reader's own errors, naming the field it stopped at, with every later field untouched.
#include "settingsfile.h"
#include "vberror.h"

#include <QRegularExpression>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace skyjog;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "settings_line: %s\n", what);
    std::abort();
}

// Values no reader would produce by accident, so a field that was written is told apart from
// one that was left alone.
Settings sentinel() {
    Settings s;
    s.UpMessage = -11;
    s.DownMessage = -12;
    s.LeftMessage = -13;
    s.RightMessage = -14;
    s.CommPortText = QStringLiteral("<untouched>");
    s.FormTop = -15;
    s.FormLeft = -16;
    s.AltRateIndex = -17;
    s.AzRateIndex = -18;
    s.TrackModeIndex = -19;
    s.OnTop = true;
    s.SpiralWidth = -20;
    s.CornerDelay = -21.5;
    return s;
}

bool fieldEqual(const Settings& a, const Settings& b, int field) {
    switch (field) {
    case 0:
        return a.UpMessage == b.UpMessage;
    case 1:
        return a.DownMessage == b.DownMessage;
    case 2:
        return a.LeftMessage == b.LeftMessage;
    case 3:
        return a.RightMessage == b.RightMessage;
    case 4:
        return a.CommPortText == b.CommPortText;
    case 5:
        return a.FormTop == b.FormTop;
    case 6:
        return a.FormLeft == b.FormLeft;
    case 7:
        return a.AltRateIndex == b.AltRateIndex;
    case 8:
        return a.AzRateIndex == b.AzRateIndex;
    case 9:
        return a.TrackModeIndex == b.TrackModeIndex;
    case 10:
        return a.OnTop == b.OnTop;
    case 11:
        return a.SpiralWidth == b.SpiralWidth;
    case 12:
        return a.CornerDelay == b.CornerDelay;
    }
    return false;
}

void check(const QByteArray& data, bool truncated) {
    Settings s = sentinel();
    try {
        settingsfile::parse(data, s, truncated);
    } catch (const VbError& e) {
        switch (e.number) {
        case err::BadFileFormat:
        case err::TypeMismatch:
        case err::Overflow:
        case err::InvalidPropertyValue:
            break;
        default:
            fail("unexpected error number");
        }
        static const QRegularExpression fieldRe(QStringLiteral(R"(field (\d+): )"));
        const auto m = fieldRe.match(e.description);
        if (!m.hasMatch()) fail("error does not name its field");
        const int failed = m.captured(1).toInt() - 1;
        if (failed < 0 || failed >= settingsfile::FieldCount) fail("field number out of range");
        const Settings untouched = sentinel();
        for (int f = failed; f < settingsfile::FieldCount; ++f)
            if (!fieldEqual(s, untouched, f)) fail("a field at or after the failing one changed");
        return;
    }
    // Read values are valid values: they write back as one line and read again the same.
    if (s.AltRateIndex < 0 || s.AltRateIndex >= settingsfile::RateCount || s.AzRateIndex < 0 ||
        s.AzRateIndex >= settingsfile::RateCount || s.TrackModeIndex < 0 ||
        s.TrackModeIndex >= settingsfile::TrackModeCount)
        fail("an index outside its list was accepted");
    for (int16_t code : {s.UpMessage, s.DownMessage, s.LeftMessage, s.RightMessage})
        if (code != 6 && code != 7) fail("a direction code other than 6 or 7 was accepted");
    const QByteArray line = settingsfile::format(s);
    if (!line.endsWith("\r\n") || line.count('\n') != 1) fail("written line is not one line");
    Settings again = sentinel();
    try {
        settingsfile::parse(line, again, false);
    } catch (const VbError&) {
        fail("a written line does not read back");
    }
    if (!(again == s)) fail("values changed through write and read");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A file longer than the limit is only ever read up to it.
    if (size > size_t(settingsfile::MaxBytes)) return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    check(bytes, false);
    check(bytes, true);
    return 0;
}
