// SPDX-License-Identifier: GPL-3.0-or-later
// Random replies and typed entries (fixed seed) against the decoders' and the
// parser's invariants. Each reply sits in an allocation of exactly its size,
// so a read past the received bytes fails under the address sanitizer.
#include <QtTest>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>

#include "HartReplies.h"
#include "../../fuzz/FuzzCheck.h"

namespace {

constexpr int kRounds = 20000;

std::vector<uint8_t> randomReply(std::mt19937 &rng)
{
    std::uniform_int_distribution<int> len(0, 255), pick(0, 99), byte(0, 255);
    std::vector<uint8_t> reply(static_cast<size_t>(len(rng)));
    // Plenty of preambles and delimiters, so markers turn up everywhere,
    // including as the last byte(s).
    for (uint8_t &b : reply) {
        const int p = pick(rng);
        b = static_cast<uint8_t>(p < 25 ? 0xFF : p < 35 ? 0x06 : p < 45 ? 0x86 : byte(rng));
    }
    // Half the replies carry a whole frame with a good checksum somewhere in
    // the noise, so the decoding paths are reached; one in eight then gets a
    // byte spoilt.
    if (pick(rng) < 50) {
        const bool longFrame = pick(rng) < 50;
        std::vector<uint8_t> f{0xFF, 0xFF, uint8_t(longFrame ? 0x86 : 0x06)};
        for (int i = 0; i < (longFrame ? 6 : 2); ++i)
            f.push_back(uint8_t(byte(rng)));
        const int count = std::uniform_int_distribution<int>(0, 30)(rng);
        f.push_back(uint8_t(count));
        for (int i = 0; i < count; ++i)
            f.push_back(uint8_t(byte(rng)));
        uint8_t sum = 0;
        for (size_t i = 2; i < f.size(); ++i)
            sum ^= f[i];
        f.push_back(sum);
        if (pick(rng) < 12)
            f[std::uniform_int_distribution<size_t>(2, f.size() - 1)(rng)] ^= 0x10;
        const size_t at = std::uniform_int_distribution<size_t>(0, reply.size())(rng);
        reply.insert(reply.begin() + std::ptrdiff_t(at), f.begin(), f.end());
    }
    return reply;
}

std::string hexEcho(const hart::Bytes &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
        text += ' ';
    }
    return text;
}

bool looksNumeric(const std::string &t)
{
    if (t == "NAN" || t == "INF" || t == "-INF")
        return true;
    for (char c : t)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'E'))
            return false;
    return !t.empty();
}

} // namespace

class TestHartFuzz : public QObject {
    Q_OBJECT

private slots:
    void decodersStayInside();
    void floatTextReadsBack();
    void manualEntryRoundTrip();
};

void TestHartFuzz::decodersStayInside()
{
    std::mt19937 rng(20240605);
    int decoded0 = 0, variablesSeen = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::vector<uint8_t> reply = randomReply(rng);
        // Exact-size heap copy; zero length still gets its own allocation.
        std::unique_ptr<uint8_t[]> rx(new uint8_t[reply.size()]);
        std::copy(reply.begin(), reply.end(), rx.get());

        const std::optional<hart::Command0Data> c0 = hart::decodeCommand0(rx.get(), reply.size());
        const auto v0 = fuzzcheck::firstValidReply(reply.data(), reply.size(), 0x06);
        QCOMPARE(c0.has_value(), v0.has_value() && v0->size >= 12);
        if (c0) {
            ++decoded0;
            const uint8_t *d = reply.data() + v0->dataAt;
            QCOMPARE(c0->identity.manufacturerId, d[1]);
            QCOMPARE(c0->identity.deviceType, d[2]);
            QCOMPARE(c0->minPreambles, d[3]);
            QCOMPARE(hart::deviceIdNumber(c0->identity), uint32_t(d[9]) * 65536 + uint32_t(d[10]) * 256 + d[11]);
        }

        const hart::Command3Info c3 = hart::decodeCommand3(rx.get(), reply.size());
        const auto v3 = fuzzcheck::firstValidReply(reply.data(), reply.size(), 0x86);
        QCOMPARE(c3.markerFound, v3.has_value());
        // The loop current, then five bytes for each variable the data covers.
        const size_t covered = v3 && v3->size >= 9 ? std::min<size_t>(4, (v3->size - 4) / 5) : 0;
        QCOMPARE(c3.variables.size(), covered);
        for (size_t i = 0; i < c3.variables.size(); ++i) {
            const hart::Variable &v = c3.variables[i];
            QCOMPARE(v.number, int(i) + 1);
            QCOMPARE(v.unitIndex, hart::unitIndexForCode(reply[v3->dataAt + 4 + 5 * i]));
            QVERIFY(!v.valueText.empty() && v.valueText.size() <= 9);
            QVERIFY2(looksNumeric(v.valueText), v.valueText.c_str());
        }
        variablesSeen += int(covered);
    }
    // The generator must actually reach the decoding paths.
    QVERIFY(decoded0 > 100);
    QVERIFY(variablesSeen > 1000);
}

void TestHartFuzz::floatTextReadsBack()
{
    std::mt19937 rng(7);
    std::uniform_int_distribution<uint32_t> bits;
    for (int round = 0; round < kRounds; ++round) {
        const float f = std::bit_cast<float>(bits(rng));
        const std::string full = hart::generalFloatText(double(f));
        const std::string shown = hart::formatValue(f);
        QVERIFY2(shown.size() <= 9, shown.c_str());
        if (!std::isfinite(f)) {
            QVERIFY(full == "NAN" || full == "INF" || full == "-INF");
            QCOMPARE(shown, full);
            continue;
        }
        // Cut only behind the integer digits; else scientific, keeping the
        // magnitude with at least three significant digits.
        if (shown.find('E') == std::string::npos || full.size() <= 9) {
            QCOMPARE(shown, full.substr(0, 9));
            QVERIFY2(full.find('E') == std::string::npos || full.size() <= 9, full.c_str());
            QVERIFY2(std::min(full.find('.'), full.size()) <= 9, full.c_str());
        } else {
            const double seen = std::strtod(shown.c_str(), nullptr);
            QVERIFY2(std::fabs(seen - double(f)) <= std::fabs(double(f)) * 5e-3, (full + " " + shown).c_str());
        }
        // 15 significant digits read back within rounding.
        const double back = std::strtod(full.c_str(), nullptr);
        QVERIFY2(std::fabs(back - double(f)) <= std::fabs(double(f)) * 1e-14, full.c_str());
        QVERIFY2(full.find('e') == std::string::npos && full.find('+') == std::string::npos, full.c_str());
        const size_t dot = full.find('.');
        const size_t end = full.find('E');
        if (dot != std::string::npos) {
            const char last = full[(end == std::string::npos ? full.size() : end) - 1];
            QVERIFY2(last != '0' && last != '.', full.c_str());
        }
    }
}

void TestHartFuzz::manualEntryRoundTrip()
{
    std::mt19937 rng(99);
    static const char alphabet[] = "0123456789ABCDEF   abfxG-+.:/\t\xB0";
    std::uniform_int_distribution<size_t> ch(0, sizeof alphabet - 1); // includes the NUL
    std::uniform_int_distribution<int> len(0, 60), byte(0, 255), count(1, 20);
    int ok = 0, noSpack = 0, dataError = 0, conversion = 0, refused = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::string text;
        if (round % 2 == 0) {
            // Well-formed entries, some with a slip.
            const int n = count(rng);
            for (int k = 0; k < n; ++k)
                text += hexEcho({uint8_t(byte(rng))});
            if (round % 6 == 0)
                text[size_t(len(rng)) % text.size()] = alphabet[ch(rng)];
        } else {
            const int n = len(rng);
            for (int k = 0; k < n; ++k)
                text += alphabet[ch(rng)];
        }

        const hart::ManualEntry entry = hart::parseManualEntry(text);
        switch (entry.status) {
        case hart::ManualEntry::Ok: {
            ++ok;
            const size_t n = text.size() / 3 + (text.size() % 3 == 2);
            QVERIFY(n <= 15 && text.size() % 3 != 1);
            QCOMPARE(entry.bytes.size(), n);
            QVERIFY(entry.badText.empty());
            const hart::ManualEntry again = hart::parseManualEntry(hexEcho(entry.bytes));
            QCOMPARE(again.status, hart::ManualEntry::Ok);
            QCOMPARE(again.bytes, entry.bytes);
            const hart::Bytes frame = hart::manualFrame(entry.bytes, 3);
            QCOMPARE(frame.size(), n + 4);
            uint8_t sum = 0;
            for (size_t i = 3; i < frame.size(); ++i)
                sum ^= frame[i];
            QCOMPARE(sum, uint8_t(0));
            break;
        }
        case hart::ManualEntry::ConversionError:
            ++conversion;
            QCOMPARE(entry.badText.size(), size_t(1));
            QVERIFY(static_cast<unsigned char>(entry.badText[0]) < '0');
            QVERIFY(entry.bytes.empty());
            break;
        case hart::ManualEntry::NoSpack:
            ++noSpack;
            QVERIFY(entry.bytes.empty());
            break;
        case hart::ManualEntry::DataError:
            ++dataError;
            QVERIFY(entry.bytes.empty());
            break;
        case hart::ManualEntry::TooManyBytes:
            ++refused;
            QVERIFY(text.size() / 3 + (text.size() % 3 == 2) > 15);
            QVERIFY(entry.bytes.empty());
            break;
        case hart::ManualEntry::LoneCharacter:
            ++refused;
            QCOMPARE(text.size() % 3, size_t(1));
            QVERIFY(entry.bytes.empty());
            break;
        }
    }
    QVERIFY(ok > 1000 && noSpack > 100 && dataError > 100 && conversion > 100 && refused > 100);
}

QTEST_APPLESS_MAIN(TestHartFuzz)
#include "test_hart_fuzz.moc"
