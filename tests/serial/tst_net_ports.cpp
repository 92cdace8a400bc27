// SPDX-License-Identifier: GPL-3.0-or-later
// Network ports through a real ser2net: a raw and an RFC 2217 accepter in
// front of a pseudo-terminal played by the test or by the gateway simulator.
// Skipped (exit 77) where ser2net is not installed.
#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest.h>

#include "Ctl.h"
#include "GatewaySim.h"
#include "Ser2NetServer.h"
#include "SerialTestSupport.h"
#include "SocketDevice.h"
#include "net/NetName.h"
#include "net/Telnet.h"

#include <algorithm>
#include <cerrno>
#include <map>
#include <sstream>
#include <thread>

using namespace SerialComm;
using namespace SerialTest;

namespace {

// A component on a pty behind ser2net; the test plays the device.
struct NetRig {
    PortRig port;
    Ser2Net server{port.pty.slavePath()};
};

// ser2net frees the device a moment after the last client left, and turns
// a client away until then.
template <class Open>
auto whenFree(Open open)
{
    const auto until = Clock::now() + milliseconds(3000);
    for (;;) {
        try {
            return open();
        } catch (const ECommsError &e) {
            if (e.systemError() != ECONNRESET || Clock::now() > until)
                throw;
        }
        std::this_thread::sleep_for(milliseconds(50));
    }
}

std::string openFailure(TComm &comm, int &error)
{
    try {
        whenFree([&] { comm.OpenPort(); });
    } catch (const ECommsError &e) {
        error = e.systemError();
        return e.what();
    }
    return "opened";
}

} // namespace

TEST_CASE("network port names")
{
    const struct {
        const char *name;
        bool ok = false, rfc2217 = false;
        const char *host = "", *port = "";
    } rows[] = {
        {"tcp://10.0.0.5:4001", true, false, "10.0.0.5", "4001"},
        {"RFC2217://gw-7.plant:2217/", true, true, "gw-7.plant", "2217"},
        {"rfc2217://[fe80::1]:7000", true, true, "fe80::1", "7000"},
        {"tcp://fe80::1:7000"}, {"tcp://host"}, {"tcp://host:0"}, {"tcp://host:65536"},
        {"tcp://:4001"},        {"tcp://a b:1"}, {"/dev/ttyUSB0"}, {"COM3"},
    };
    for (const auto &row : rows) {
        INFO(row.name);
        const auto parsed = parseNetworkPortName(row.name);
        REQUIRE(parsed.has_value() == row.ok);
        if (row.ok) {
            CHECK(parsed->rfc2217 == row.rfc2217);
            CHECK(parsed->host == row.host);
            CHECK(parsed->port == row.port);
        }
    }
    CHECK(isNetworkPortName("tcp://host"));
    CHECK(!isNetworkPortName("/dev/tcp"));
}

// The server's answers, made from the requests as a server would (command +
// 100, the value in effect), fed one byte at a time.
TEST_CASE("RFC 2217 answers: confirmed, refused, or missing")
{
    using detail::TelnetCodec;
    struct Row {
        const char *name;
        uint32_t answeredBaud;
        bool complete;
        int outcome;
    } rows[] = {
        {"every value confirmed", 19200, true, 0},
        {"the server keeps another speed", 9600, true, EINVAL},
        {"an answer missing", 19200, false, -1},
    };
    for (const Row &row : rows) {
        INFO(row.name);
        TelnetCodec codec;
        detail::LineSettings settings;
        settings.baudRate = 19200;
        std::vector<uint8_t> request;
        REQUIRE(codec.settingsRequest(settings, request));
        std::vector<uint8_t> answer = request;
        for (size_t i = 0; i + 3 < answer.size(); ++i) {
            if (answer[i] == TelnetCodec::IAC && answer[i + 1] == TelnetCodec::SB)
                answer[i + 3] += 100;
        }
        answer[6] = static_cast<uint8_t>(row.answeredBaud >> 8); // SET-BAUDRATE comes first
        answer[7] = static_cast<uint8_t>(row.answeredBaud);
        REQUIRE(answer.size() > 8);
        if (!row.complete)
            answer.erase(answer.end() - 2, answer.end()); // the last answer's IAC SE never comes
        const std::vector<uint8_t> data = {'A', TelnetCodec::IAC, TelnetCodec::IAC, 'B'};
        answer.insert(answer.begin(), data.begin(), data.end()); // line bytes before the answers
        std::vector<uint8_t> line, reply;
        for (uint8_t b : answer) {
            if (codec.decode(&b, 1, reply) == 1)
                line.push_back(b);
        }
        CHECK(line == std::vector<uint8_t>{'A', TelnetCodec::IAC, 'B'});
        CHECK(codec.settingsOutcome() == row.outcome);
    }
}

TEST_CASE("every byte value passes both ways, in bounded chunks")
{
    NetRig rig;
    REQUIRE(rig.server.ok());
    for (const std::string &name : {rig.server.raw(), rig.server.rfc2217()}) {
        INFO(name);
        TComm &comm = rig.port.comm;
        comm.SetCommName(name);
        whenFree([&] { comm.OpenPort(); });
        std::vector<uint8_t> all(512);
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = static_cast<uint8_t>(255 - i % 256); // IAC first, twice over
        REQUIRE(comm.SendData(all.data(), static_cast<uint16_t>(all.size())));
        CHECK(rig.port.pty.readMaster(all.size(), milliseconds(3000)) == all);

        const std::vector<uint8_t> burst = pattern(5000);
        rig.port.log.chunks.clear();
        REQUIRE(rig.port.pty.writeMaster(burst.data(), burst.size()));
        REQUIRE(rig.port.queue->runUntil([&] { return rig.port.log.receivedBytes() >= burst.size(); },
                                         milliseconds(5000)));
        CHECK(rig.port.log.allBytes() == burst);
        for (const auto &chunk : rig.port.log.chunks)
            CHECK(chunk.bytes.size() <= 2048);
        comm.ClosePort();
    }
}

TEST_CASE("RFC 2217 line settings reach the device's line")
{
    NetRig rig;
    REQUIRE(rig.server.ok());
    TComm &comm = rig.port.comm;
    comm.SetCommName(rig.server.rfc2217());
    comm.SetBaudRate(19200);
    comm.SetParity(TParity::Odd);
    comm.SetStopBits(TStopBits::_2);
    comm.OpenPort();
    LineView v;
    REQUIRE(readLineView(rig.port.pty.slaveKeeper(), v));
    CHECK(v.baud == 19200u);
    CHECK((v.bits & (LineParityOdd | LineStickParity | LineTwoStopBits)) == (LineParityOdd | LineTwoStopBits));

    comm.SetBaudRate(4800); // while open: applied at once
    REQUIRE(readLineView(rig.port.pty.slaveKeeper(), v));
    CHECK(v.baud == 4800u);
}

TEST_CASE("failures give a clear error and leave the component closed")
{
    NetRig rig;
    REQUIRE(rig.server.ok());
    TComm &comm = rig.port.comm;
    int error = 0;

    SUBCASE("server not listening")
    {
        comm.SetCommName("tcp://127.0.0.1:" + std::to_string(freePort()));
        CHECK(openFailure(comm, error) == "Error opening serial port");
        CHECK(error == ECONNREFUSED);
    }
    SUBCASE("server that never answers the RFC 2217 negotiation")
    {
        // The raw accepter passes the Telnet offer to the line as data.
        comm.SetCommName("rfc2217://" + rig.server.raw().substr(6));
        const auto start = Clock::now();
        CHECK(openFailure(comm, error) == "Error opening serial port");
        CHECK(error == ETIMEDOUT);
        CHECK(Clock::now() - start < milliseconds(4000));
    }
    SUBCASE("malformed name")
    {
        comm.SetCommName("tcp://127.0.0.1");
        CHECK(openFailure(comm, error) == "Error opening serial port");
        CHECK(error == EINVAL);
    }
    CHECK(!comm.IsOpen());
    comm.SetCommName(rig.server.rfc2217());
    CHECK(openFailure(comm, error) == "opened");
}

// A device server that takes every setting but 4800 baud, which it answers
// with the rate in effect, as a server does for a rate its port cannot do.
class PickyServer {
public:
    using Line = std::map<uint8_t, std::vector<uint8_t>>;
    // 9600 8N1, no flow control.
    static inline const Line Initial = {{1, {0, 0, 0x25, 0x80}}, {2, {8}}, {3, {1}}, {4, {1}}, {5, {1}}};

    PickyServer() : m_thread([this] { serve(); }) {}
    ~PickyServer()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // The line's settings once the client has gone.
    Line lineAtEnd()
    {
        m_thread.join();
        return m_line;
    }
    std::string name() const { return "rfc2217://127.0.0.1:" + std::to_string(m_device.port()); }

private:
    void serve()
    {
        if (!m_device.accept())
            return;
        std::vector<uint8_t> in;
        // Until the component leaves (or stays silent for long).
        for (std::vector<uint8_t> got; !(got = m_device.readSome(milliseconds(10000))).empty();) {
            in.insert(in.end(), got.begin(), got.end());
            std::vector<uint8_t> out;
            size_t i = 0;
            for (; i + 2 < in.size(); ++i) {
                if (in[i] != 255)
                    continue;
                if (in[i + 1] == 251 && in[i + 2] == 44) // WILL COM-PORT-OPTION
                    out.insert(out.end(), {255, 253, 44});
                if (in[i + 1] != 250)
                    continue;
                const auto se = std::find(in.begin() + long(i), in.end(), uint8_t(240)); // no IAC in these values
                if (se == in.end())
                    break;
                const uint8_t command = in[i + 3];
                const std::vector<uint8_t> value(in.begin() + long(i) + 4, se - 1);
                const bool ask = std::all_of(value.begin(), value.end(), [](uint8_t b) { return b == 0; });
                if (!ask && !(command == 1 && value == std::vector<uint8_t>{0, 0, 0x12, 0xc0}))
                    m_line[command] = value;
                out.insert(out.end(), {255, 250, 44, uint8_t(command + 100)});
                out.insert(out.end(), m_line[command].begin(), m_line[command].end());
                out.insert(out.end(), {255, 240});
                i = size_t(se - in.begin());
            }
            in.erase(in.begin(), in.begin() + long(std::min(i, in.size())));
            m_device.write(out.data(), out.size());
        }
    }

    Line m_line = Initial;
    SocketDevice m_device; // ahead of the thread that serves it
    std::thread m_thread;
};

TEST_CASE("a refused RFC 2217 setting sets the server's line back as it was")
{
    PickyServer server;
    PortRig rig;
    TComm &comm = rig.comm;
    comm.SetCommName(server.name());
    comm.SetBaudRate(4800);
    comm.SetParity(TParity::Odd);
    comm.SetStopBits(TStopBits::_2);
    int error = 0;
    CHECK(openFailure(comm, error) == "Error opening serial port");
    CHECK(error == EINVAL);
    CHECK(!comm.IsOpen());
    // Parity and stop bits were taken, then given back with the rest.
    CHECK(server.lineAtEnd() == PickyServer::Initial);
}

TEST_CASE("a connection reset mid-reply is a lost port, told once")
{
    NetRig rig;
    REQUIRE(rig.server.ok());
    TComm &comm = rig.port.comm;
    comm.SetCommName(rig.server.raw());
    comm.OpenPort();
    REQUIRE(rig.port.pty.writeMaster("QQS#first half"));
    REQUIRE(rig.port.queue->runUntil([&] { return rig.port.log.receivedBytes() == 14; }, milliseconds(3000)));
    rig.server.kill(SIGKILL);
    CHECK(rig.port.queue->runUntil([&] { return rig.port.log.hangups > 0; }, milliseconds(3000)));
    rig.port.queue->runFor(milliseconds(300));
    CHECK(rig.port.log.hangups == 1);
}

TEST_CASE("nx260ctl shows the same over raw TCP, RFC 2217 and the pty")
{
    sim::Options o;
    o.linkPath.clear();
    sim::GatewaySim gateway(o);
    REQUIRE(gateway.start());
    Ser2Net server(gateway.slavePath());
    REQUIRE(server.ok());
    auto show = [](const std::string &port) {
        return whenFree([&port] {
            std::ostringstream out, err;
            const int code = nx260ctl::run({"--port", port, "show"}, out, err);
            if (err.str().find("reset by peer") != std::string::npos)
                throw ECommsError("busy", ECONNRESET);
            INFO(err.str());
            CHECK(code == nx260ctl::Done);
            return out.str();
        });
    };
    const std::string local = show(gateway.slavePath());
    CHECK(local.find("instrument.4.interval") != std::string::npos);
    CHECK(show(server.raw()) == local);
    CHECK(show(server.rfc2217()) == local);
}

int main(int argc, char **argv)
{
    if (::access(Ser2NetPath, X_OK) != 0) {
        std::printf("ser2net is not installed: skipped\n");
        return 77;
    }
    doctest::Context context(argc, argv);
    return context.run();
}
