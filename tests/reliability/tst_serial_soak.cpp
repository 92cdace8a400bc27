// SPDX-License-Identifier: GPL-3.0-or-later
// The serial component under load and abuse on real pseudo-terminals: a long
// random stream both ways, many open/close and lost-port cycles, closing in
// the middle of a large send. Sizes follow NX_SOAK_SCALE (SoakSupport.h).
#include "SerialTestSupport.h"
#include "SoakSupport.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <poll.h>
#include <random>
#include <thread>
#include <unistd.h>

using namespace SerialComm;
using namespace SerialTest;

namespace {

constexpr size_t KiB = 1024;
constexpr size_t MiB = 1024 * KiB;
constexpr size_t MaxChunk = 2048;

// Log-uniform sizes: mostly small writes, now and then a large one.
size_t randomSize(std::mt19937_64 &rng, size_t max)
{
    std::uniform_real_distribution<double> exponent(0, std::log2(double(max)));
    return std::clamp<size_t>(size_t(std::exp2(exponent(rng))), 1, max);
}

// Reads whatever the master has within `wait`; 0 on timeout, -1 when the
// master is unusable.
ssize_t readSome(int fd, uint8_t *buf, size_t capacity, milliseconds wait)
{
    pollfd pfd{fd, POLLIN, 0};
    const int r = poll(&pfd, 1, int(wait.count()));
    if (r <= 0)
        return 0;
    const ssize_t n = ::read(fd, buf, capacity);
    if (n > 0)
        return n;
    return (n < 0 && (errno == EAGAIN || errno == EINTR)) ? 0 : -1;
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// Runs queued notifications until every task posted so far has run.
bool drainQueue(TestOwnerQueue &queue, milliseconds timeout = milliseconds(3000))
{
    return queue.runUntil([&] { return queue.ran() == queue.posted(); }, timeout);
}

// Checks bytes against a reference stream as they come, however they are
// sliced, and keeps a checksum of them.
struct ByteStreamCheck {
    explicit ByteStreamCheck(uint64_t seed) : expected(seed) {}

    Soak::ByteStream expected;
    Soak::Checksum sum;
    size_t count = 0;
    size_t mismatchAt = SIZE_MAX;
    std::vector<uint8_t> scratch;

    void check(const uint8_t *data, size_t length)
    {
        scratch.resize(length);
        expected.fill(scratch.data(), length);
        if (mismatchAt == SIZE_MAX) {
            const auto m = std::mismatch(data, data + length, scratch.begin());
            if (m.first != data + length)
                mismatchAt = count + size_t(m.first - data);
        }
        sum.add(data, length);
        count += length;
    }
};

// Stops and joins a helper thread however the test function is left, so a
// failed check does not leave a running std::thread behind.
class ThreadGuard {
public:
    ThreadGuard(std::atomic<bool> &stop, std::thread &thread) : m_stop(stop), m_thread(thread) {}
    ~ThreadGuard()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> &m_stop;
    std::thread &m_thread;
};

// The start of a system parameter reply, as the gateway would send it.
const std::string kReply = "QX1#MD:1#C1:001#BOA:300#BOB:300#DTA:2#DTB:2#RTM:010#XH:0#";

} // namespace

class SerialSoakTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_threads = countThreads();
        Soak::report("serial: scale %s, seed 0x%llx", Soak::scaleName().c_str(),
                     static_cast<unsigned long long>(Soak::seed()));
    }

    void init() { QCOMPARE(settle(countThreads, m_threads, milliseconds(3000)), m_threads); }

    void randomStreamBothWays();
    void openCloseCycles();
    void portLostCycles();
    void closeDuringLargeSend();

private:
    int m_threads = 0;
};

// Random data in random-sized writes with random pauses, in both directions
// at once, arrives complete and in order: every byte is checked against a
// stream regenerated from the same seed, and both ends' checksums agree.
void SerialSoakTest::randomStreamBothWays()
{
    const size_t total = Soak::size(8 * MiB, 100 * MiB);
    const uint64_t seed = Soak::seed();
    PtyPair pty;
    QVERIFY(pty.ok());
    auto queue = std::make_shared<TestOwnerQueue>();
    TComm comm(queue);
    configureForPty(comm, pty);

    // Device -> component, checked on the owner's thread.
    ByteStreamCheck inbound(seed + 1);
    size_t chunks = 0, maxChunk = 0, badChunks = 0;
    int hangups = 0, lineErrors = 0;
    comm.OnReceiveData = [&](TComm *, const uint8_t *buffer, uint16_t length) {
        ++chunks;
        maxChunk = std::max<size_t>(maxChunk, length);
        if (length == 0 || length > MaxChunk || buffer[length] != 0)
            ++badChunks;
        inbound.check(buffer, length);
    };
    comm.OnRequestHangup = [&](TComm *) { ++hangups; };
    comm.OnReceiveError = [&](TComm *, uint32_t) { ++lineErrors; };
    comm.OpenPort();

    std::atomic<bool> stop{false};
    std::atomic<bool> deviceFailed{false};
    size_t deviceWrites = 0, devicePauses = 0;
    Soak::Checksum deviceSent;
    std::thread deviceWriter([&] {
        Soak::ByteStream stream(seed + 1);
        std::mt19937_64 rng(seed + 3);
        std::vector<uint8_t> buf(16 * KiB);
        size_t sent = 0;
        while (sent < total && !stop.load()) {
            const size_t n = std::min(randomSize(rng, buf.size()), total - sent);
            stream.fill(buf.data(), n);
            deviceSent.add(buf.data(), n);
            if (!pty.writeMaster(buf.data(), n, milliseconds(30000))) {
                deviceFailed.store(true);
                return;
            }
            sent += n;
            ++deviceWrites;
            // Now and then a pause, often longer than the read interval so
            // that a chunk ends early.
            if (rng() % 64 == 0) {
                ++devicePauses;
                std::this_thread::sleep_for(milliseconds(rng() % 150));
            }
        }
    });
    ThreadGuard writerGuard(stop, deviceWriter);

    // Component -> device, checked on a device thread.
    std::atomic<size_t> deviceGot{0};
    ByteStreamCheck outbound(seed + 2);
    std::thread deviceReader([&] {
        std::vector<uint8_t> buf(64 * KiB);
        while (deviceGot.load() < total && !stop.load()) {
            const ssize_t n = readSome(pty.master(), buf.data(), buf.size(), milliseconds(50));
            if (n < 0) {
                deviceFailed.store(true);
                return;
            }
            outbound.check(buf.data(), size_t(n));
            deviceGot.fetch_add(size_t(n));
        }
    });
    ThreadGuard readerGuard(stop, deviceReader);

    // The owner sends random blocks and pauses at random, keeping at most a
    // window of bytes in flight (SendData itself never waits).
    Soak::ByteStream stream(seed + 2);
    Soak::Checksum ownerSent;
    std::mt19937_64 rng(seed + 4);
    std::vector<uint8_t> block(65535);
    size_t sent = 0, sends = 0, ownerPauses = 0;
    bool refused = false;
    Clock::time_point pauseUntil{};
    const auto started = Clock::now();
    // Generous: a loaded machine moves a pty at tens of MiB/s at least.
    const auto deadline = started + milliseconds(60000) + milliseconds(total / (64 * KiB) * 100);
    while ((inbound.count < total || deviceGot.load() < total) && Clock::now() < deadline && !deviceFailed.load()) {
        const auto now = Clock::now();
        if (sent < total && now >= pauseUntil && sent - deviceGot.load() < 512 * KiB) {
            const size_t n = std::min(randomSize(rng, block.size()), total - sent);
            stream.fill(block.data(), n);
            ownerSent.add(block.data(), n);
            if (!comm.SendData(block.data(), uint16_t(n))) {
                refused = true;
                break;
            }
            sent += n;
            ++sends;
            if (rng() % 64 == 0) {
                ++ownerPauses;
                pauseUntil = now + milliseconds(rng() % 150);
            }
            // Hand over what has arrived meanwhile, without waiting for more.
            queue->runUntil([&] { return queue->ran() >= queue->posted(); }, milliseconds(1));
            continue;
        }
        queue->runFor(milliseconds(5));
    }
    const double elapsed = seconds(Clock::now() - started);
    stop.store(true);
    deviceWriter.join();
    deviceReader.join();
    queue->runFor(milliseconds(200)); // anything beyond the stream would show here
    comm.ClosePort();
    drainQueue(*queue);

    Soak::report("serial stream: %zu bytes in (%zu writes, %zu pauses, %zu chunks, largest %zu), "
                 "%zu bytes out (%zu SendData, %zu pauses), fnv64 in %016llx/%016llx out %016llx/%016llx, %.1f s",
                 inbound.count, deviceWrites, devicePauses, chunks, maxChunk, deviceGot.load(), sends, ownerPauses,
                 static_cast<unsigned long long>(deviceSent.value()),
                 static_cast<unsigned long long>(inbound.sum.value()),
                 static_cast<unsigned long long>(ownerSent.value()),
                 static_cast<unsigned long long>(outbound.sum.value()), elapsed);

    QVERIFY(!refused);
    QVERIFY(!deviceFailed.load());
    QCOMPARE(inbound.mismatchAt, size_t(SIZE_MAX));
    QCOMPARE(outbound.mismatchAt, size_t(SIZE_MAX));
    QCOMPARE(inbound.count, total);
    QCOMPARE(deviceGot.load(), total);
    QCOMPARE(inbound.sum.value(), deviceSent.value());
    QCOMPARE(outbound.sum.value(), ownerSent.value());
    QCOMPARE(badChunks, size_t(0));
    QCOMPARE(hangups, 0);
    QCOMPARE(lineErrors, 0);
}

// Opening and closing over and over, sometimes with traffic, sometimes while
// the device is sending, leaves no descriptor, thread or memory behind.
void SerialSoakTest::openCloseCycles()
{
    const size_t cycles = Soak::size(100, 1000);
    PtyPair pty;
    QVERIFY(pty.ok());
    auto queue = std::make_shared<TestOwnerQueue>();
    TComm comm(queue);
    configureForPty(comm, pty);
    // Counted, not kept: the memory figure is about the component.
    size_t received = 0;
    int hangups = 0;
    comm.OnReceiveData = [&](TComm *, const uint8_t *, uint16_t length) { received += length; };
    comm.OnRequestHangup = [&](TComm *) { ++hangups; };
    long warmRss = 0;
    size_t roundTrips = 0, busyCloses = 0;

    std::atomic<bool> pour{false};
    std::atomic<bool> stop{false};
    std::thread device([&] {
        const auto data = pattern(700);
        while (!stop.load()) {
            if (pour.load())
                pty.writeMaster(data.data(), data.size(), milliseconds(20));
            else
                std::this_thread::sleep_for(milliseconds(2));
        }
    });
    ThreadGuard deviceGuard(stop, device);
    // The baseline includes the device thread.
    const int fds = countOpenFds();
    const int threads = settle(countThreads, m_threads + 1, milliseconds(3000));

    const auto started = Clock::now();
    for (size_t i = 0; i < cycles; ++i) {
        comm.OpenPort();
        QVERIFY(comm.IsOpen());
        switch (i % 4) {
        case 0: // a full exchange each way
            if (i % 20 == 0) {
                const size_t before = received;
                QVERIFY(pty.writeMaster("ping"));
                QVERIFY(queue->runUntil([&] { return received >= before + 4; }, milliseconds(3000)));
                pty.drainMaster(milliseconds(0));
                QVERIFY(comm.SendData("pong", 4));
                QCOMPARE(pty.readMaster(4, milliseconds(3000)), (std::vector<uint8_t>{'p', 'o', 'n', 'g'}));
                ++roundTrips;
            }
            break;
        case 1: // close with a send still queued
            QVERIFY(comm.SendData(pattern(3000).data(), 3000));
            break;
        case 2: // close while the device pours data in
            pour.store(true);
            queue->runFor(milliseconds(15));
            ++busyCloses;
            break;
        default: // open and close at once
            break;
        }
        comm.ClosePort();
        pour.store(false);
        QVERIFY(!comm.IsOpen());
        if (i % 10 == 9) {
            drainQueue(*queue);
            pty.drainMaster(milliseconds(0));
            QCOMPARE(settle(countThreads, threads, milliseconds(3000)), threads);
            QCOMPARE(countOpenFds(), fds);
        }
        if (i + 1 == std::max<size_t>(cycles / 10, 1))
            warmRss = Soak::residentKiB();
    }
    drainQueue(*queue);
    pty.drainMaster(milliseconds(50));
    const double elapsed = seconds(Clock::now() - started);
    const int threadsAfter = settle(countThreads, threads, milliseconds(3000));
    const int fdsAfter = countOpenFds();
    const long endRss = Soak::residentKiB();
    Soak::report("serial open/close: %zu cycles (%zu round trips, %zu while receiving), fds %d -> %d, "
                 "threads %d -> %d, VmRSS %ld KiB after warm-up -> %ld KiB at end (%+ld KiB), %.1f s",
                 cycles, roundTrips, busyCloses, fds, fdsAfter, threads, threadsAfter, warmRss, endRss,
                 endRss - warmRss, elapsed);

    QCOMPARE(threadsAfter, threads);
    QCOMPARE(fdsAfter, fds);
    QCOMPARE(hangups, 0);
    QVERIFY(received > 0);
    if (Soak::residentSizeMeaningful())
        QVERIFY2(endRss - warmRss < 4096, qPrintable(QString::number(endRss - warmRss)));
}

// The device vanishes over and over: idle, in the middle of a reply, while a
// large send is blocked on it, or both. Every time exactly one
// OnRequestHangup follows, whichever thread notices first; what arrived is an
// unbroken start of what was sent. When only the reader notices, the bytes
// it had collected come before the hang-up; when the writer notices first,
// they may follow it (each thread posts in its own order). Closing afterwards
// leaves nothing behind.
void SerialSoakTest::portLostCycles()
{
    const size_t cycles = Soak::size(100, 1000);
    auto queue = std::make_shared<TestOwnerQueue>();
    TComm comm(queue);
    std::vector<uint8_t> got;
    int hangups = 0;
    bool dataAfterHangup = false;
    comm.OnReceiveData = [&](TComm *, const uint8_t *buffer, uint16_t length) {
        dataAfterHangup |= hangups > 0;
        got.insert(got.end(), buffer, buffer + length);
    };
    comm.OnRequestHangup = [&](TComm *) { ++hangups; };
    const int fds = countOpenFds();
    const int threads = countThreads();
    long warmRss = 0;
    enum { Idle, MidReply, MidSend, MidBoth, Variants };
    size_t perVariant[Variants] = {};
    size_t halfDelivered = 0, dataAfterWriterHangup = 0;
    double slowestDetection = 0;
    const std::vector<uint8_t> half(kReply.begin(), kReply.begin() + long(kReply.size() / 2));
    const auto big = pattern(60000);

    const auto started = Clock::now();
    for (size_t i = 0; i < cycles; ++i) {
        const int variant = int(i % Variants);
        auto pty = std::make_unique<PtyPair>();
        QVERIFY(pty->ok());
        configureForPty(comm, *pty);
        got.clear();
        hangups = 0;
        dataAfterHangup = false;
        comm.OpenPort();

        if (variant == MidSend || variant == MidBoth) {
            // More than the pty holds: the writer ends up waiting on it.
            for (int k = 0; k < 4; ++k)
                QVERIFY(comm.SendData(big.data(), uint16_t(big.size())));
        }
        if (variant == MidReply || variant == MidBoth) {
            QVERIFY(pty->writeMaster(half.data(), half.size()));
            // Well inside the read interval: the half reply is collected
            // but its chunk is not complete yet.
            std::this_thread::sleep_for(milliseconds(20));
        }
        const auto vanished = Clock::now();
        pty.reset(); // the master and every other descriptor of the device go away
        QVERIFY2(queue->runUntil([&] { return hangups > 0; }, milliseconds(5000)),
                 qPrintable(QString("cycle %1: no hang-up").arg(i)));
        slowestDetection = std::max(slowestDetection, seconds(Clock::now() - vanished));
        // A second report would come now, if ever: from the other thread.
        queue->runFor(milliseconds(variant == Idle ? 0 : 20));
        comm.ClosePort();
        QVERIFY(drainQueue(*queue));

        QVERIFY2(hangups == 1, qPrintable(QString("cycle %1 (variant %2): %3 hang-ups").arg(i).arg(variant).arg(hangups)));
        if (variant == MidReply)
            QVERIFY2(!dataAfterHangup, qPrintable(QString("cycle %1: data after the hang-up").arg(i)));
        dataAfterWriterHangup += variant == MidBoth && dataAfterHangup;
        if (variant == MidReply || variant == MidBoth) {
            QVERIFY2(got.size() <= half.size() && std::equal(got.begin(), got.end(), half.begin()),
                     qPrintable(QString("cycle %1: %2 bytes that are not the start of the reply").arg(i).arg(got.size())));
            halfDelivered += got.size() == half.size();
        } else {
            QVERIFY(got.empty());
        }
        ++perVariant[variant];
        if (i % 10 == 9) {
            QCOMPARE(settle(countThreads, threads, milliseconds(3000)), threads);
            QCOMPARE(countOpenFds(), fds);
        }
        if (i + 1 == std::max<size_t>(cycles / 10, 1))
            warmRss = Soak::residentKiB();
    }
    const double elapsed = seconds(Clock::now() - started);
    const int threadsAfter = settle(countThreads, threads, milliseconds(3000));
    const int fdsAfter = countOpenFds();
    const long endRss = Soak::residentKiB();
    Soak::report("serial port lost: %zu cycles (idle %zu, mid-reply %zu, mid-send %zu, both %zu), "
                 "exactly one hang-up each, half reply delivered %zu/%zu (after the writer's hang-up %zu), "
                 "slowest detection %.1f ms, "
                 "fds %d -> %d, threads %d -> %d, VmRSS %ld KiB after warm-up -> %ld KiB at end (%+ld KiB), %.1f s",
                 cycles, perVariant[Idle], perVariant[MidReply], perVariant[MidSend], perVariant[MidBoth],
                 halfDelivered, perVariant[MidReply] + perVariant[MidBoth], dataAfterWriterHangup, slowestDetection * 1000, fds, fdsAfter, threads,
                 threadsAfter, warmRss, endRss, endRss - warmRss, elapsed);

    QCOMPARE(threadsAfter, threads);
    QCOMPARE(fdsAfter, fds);
    if (Soak::residentSizeMeaningful())
        QVERIFY2(endRss - warmRss < 4096, qPrintable(QString::number(endRss - warmRss)));
}

// ClosePort while a 1 MiB send is in flight to a device that reads slowly
// returns at once; what the device got is an unbroken start of the data, the
// rest is discarded, and after reopening nothing of it follows.
void SerialSoakTest::closeDuringLargeSend()
{
    const size_t cycles = Soak::size(5, 50);
    PortRig rig;
    QVERIFY(rig.pty.ok());
    auto &[pty, queue, log, comm] = rig;
    std::vector<uint8_t> data(MiB);
    Soak::ByteStream(Soak::seed() + 5).fill(data.data(), data.size());

    double slowestClose = 0;
    size_t minDiscarded = SIZE_MAX, maxDelivered = 0;
    for (size_t cycle = 0; cycle < cycles; ++cycle) {
        comm.OpenPort();
        pty.drainMaster(milliseconds(0));

        // The device reads about 400 KiB/s: the whole MiB would take 2.5 s.
        std::vector<uint8_t> got;
        std::atomic<size_t> gotCount{0};
        std::atomic<bool> stop{false};
        std::thread device([&] {
            uint8_t buf[4096];
            auto lastByte = Clock::now();
            while (!stop.load() || Clock::now() - lastByte < milliseconds(300)) {
                const ssize_t n = readSome(pty.master(), buf, sizeof buf, milliseconds(10));
                if (n > 0) {
                    got.insert(got.end(), buf, buf + n);
                    gotCount.store(got.size());
                    lastByte = Clock::now();
                }
                std::this_thread::sleep_for(milliseconds(10));
            }
        });
        ThreadGuard deviceGuard(stop, device);

        for (size_t offset = 0; offset < data.size(); offset += 65535) {
            const size_t n = std::min<size_t>(65535, data.size() - offset);
            QVERIFY(comm.SendData(data.data() + offset, uint16_t(n)));
        }
        // The device thread is no task of the queue: watch it from here.
        const auto flowDeadline = Clock::now() + milliseconds(5000);
        while (gotCount.load() < 32 * KiB && Clock::now() < flowDeadline)
            std::this_thread::sleep_for(milliseconds(2));
        const bool flowing = gotCount.load() >= 32 * KiB;
        const auto t0 = Clock::now();
        comm.ClosePort();
        const double closeSeconds = seconds(Clock::now() - t0);
        const size_t atClose = gotCount.load();
        stop.store(true);
        device.join();

        QVERIFY(flowing);
        slowestClose = std::max(slowestClose, closeSeconds);
        QVERIFY2(closeSeconds < 1.0, qPrintable(QString("ClosePort took %1 s").arg(closeSeconds)));
        QVERIFY2(got.size() < data.size() / 2,
                 qPrintable(QString("%1 bytes arrived after %2 at close").arg(got.size()).arg(atClose)));
        QVERIFY(std::equal(got.begin(), got.end(), data.begin()));
        minDiscarded = std::min(minDiscarded, data.size() - got.size());
        maxDelivered = std::max(maxDelivered, got.size());

        // A fresh open carries only what is sent now.
        comm.OpenPort();
        QVERIFY(comm.SendData("MARK", 4));
        QCOMPARE(pty.readMaster(4, milliseconds(3000)), (std::vector<uint8_t>{'M', 'A', 'R', 'K'}));
        QVERIFY(pty.drainMaster(milliseconds(100)).empty());
        comm.ClosePort();
    }
    drainQueue(*queue);
    Soak::report("serial close during 1 MiB send: %zu cycles, slowest ClosePort %.1f ms, "
                 "at most %zu bytes delivered, at least %zu bytes discarded",
                 cycles, slowestClose * 1000, maxDelivered, minDiscarded);
    QCOMPARE(log.hangups, 0);
}

int main(int argc, char **argv)
{
    Soak::allowLongRun();
    QCoreApplication app(argc, argv);
    SerialSoakTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serial_soak.moc"
