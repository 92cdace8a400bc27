// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModbusMaster.h"

#include <modbus.h>

#include <cerrno>
#include <cstring>

namespace modbus {

namespace {

using std::chrono::milliseconds;
using std::chrono::microseconds;

constexpr int kBitsPerChar = 11; // start, 8 data, parity or second stop, stop
constexpr milliseconds kMargin{200}; // USB adapters, device scheduling
constexpr milliseconds kByteTimeout{100};

double charMs(int baud)
{
    return 1000.0 * kBitsPerChar / baud;
}

std::string parityWord(Parity p)
{
    return p == Parity::None ? "none" : p == Parity::Odd ? "odd" : "even";
}

// Frame lengths: slave, function, ... , CRC.
int requestBytes(Function) { return 8; }
int replyBytes(Function f, int count)
{
    const bool bits = f == Function::Coils || f == Function::DiscreteInputs;
    return 5 + (bits ? (count + 7) / 8 : 2 * count);
}

void setTimeout(int (*set)(modbus_t *, uint32_t, uint32_t), modbus_t *ctx, milliseconds t)
{
    const auto us = std::chrono::duration_cast<microseconds>(t).count();
    set(ctx, static_cast<uint32_t>(us / 1000000), static_cast<uint32_t>(us % 1000000));
}

} // namespace

std::chrono::milliseconds responseTimeout(const Line &line, int replyWords)
{
    const double ms = (requestBytes(Function::HoldingRegisters) + replyBytes(Function::HoldingRegisters, replyWords) + 3.5)
        * charMs(std::max(line.baud, 1));
    return line.replyDelay + milliseconds(static_cast<long>(ms + 0.999)) + kMargin;
}

std::chrono::milliseconds returnTimeAllowance(int index)
{
    static constexpr int kMs[] = {0, 100, 200, 300, 400, 500};
    return milliseconds(index >= 0 && index < 6 ? kMs[index] : 500);
}

std::string exceptionName(int code)
{
    switch (code) {
    case 1: return "Illegal Function";
    case 2: return "Illegal Data Address";
    case 3: return "Illegal Data Value";
    case 4: return "Server Device Failure";
    case 5: return "Acknowledge";
    case 6: return "Server Device Busy";
    case 8: return "Memory Parity Error";
    case 10: return "Gateway Path Unavailable";
    case 11: return "Gateway Target Device Failed to Respond";
    }
    return "exception " + std::to_string(code);
}

std::uint64_t Counters::exceptionTotal() const
{
    std::uint64_t n = 0;
    for (const auto c : exceptions)
        n += c;
    return n;
}

struct Master::Private {
    modbus_t *ctx = nullptr;
    Line line;
    Counters counters;

    Result failed(int err, const std::string &what, int words);
};

Master::Master() : d(std::make_unique<Private>()) {}

Master::~Master()
{
    close();
}

Result Master::open(const Line &line)
{
    close();
    Result r;
    if (line.slave < 1 || line.slave > 247 || line.baud <= 0 || line.port.empty()) {
        r.error = Error::Usage;
        r.message = line.port.empty() ? "no MODBUS port given" : "slave address must be 1..247";
        return r;
    }
    const char parity = line.parity == Parity::None ? 'N' : line.parity == Parity::Odd ? 'O' : 'E';
    d->ctx = modbus_new_rtu(line.port.c_str(), line.baud, parity, 8, 1);
    if (!d->ctx) {
        r.error = Error::Usage;
        r.message = "cannot use " + line.port + " at " + std::to_string(line.baud) + " baud: " + modbus_strerror(errno);
        return r;
    }
    if (modbus_connect(d->ctx) != 0) {
        const int err = errno;
        modbus_free(d->ctx);
        d->ctx = nullptr;
        r.error = Error::Port;
        r.message = "cannot open MODBUS port " + line.port + ": " + modbus_strerror(err);
        return r;
    }
    modbus_set_slave(d->ctx, line.slave);
    setTimeout(modbus_set_byte_timeout, d->ctx, kByteTimeout);
    d->line = line;
    return r;
}

void Master::close()
{
    if (!d->ctx)
        return;
    modbus_close(d->ctx);
    modbus_free(d->ctx);
    d->ctx = nullptr;
}

bool Master::isOpen() const
{
    return d->ctx != nullptr;
}

const Line &Master::line() const
{
    return d->line;
}

const Counters &Master::counters() const
{
    return d->counters;
}

Result Master::Private::failed(int err, const std::string &what, int words)
{
    Result r;
    if (err > MODBUS_ENOBASE && err <= EMBXGTAR) {
        r.error = Error::Exception;
        r.exception = err - MODBUS_ENOBASE;
        ++counters.exceptions[r.exception < 12 ? static_cast<std::size_t>(r.exception) : 0];
        r.message = what + ": exception " + std::to_string(r.exception) + " (" + exceptionName(r.exception) + ")";
        return r;
    }
    // Whatever is left of a bad answer must not be taken for the next one.
    modbus_flush(ctx);
    if (err == ETIMEDOUT) {
        ++counters.noAnswer;
        r.error = Error::NoAnswer;
        r.message = what + ": no answer within " + std::to_string(responseTimeout(line, words).count())
            + " ms (check slave address " + std::to_string(line.slave) + ", " + std::to_string(line.baud)
            + " baud and parity " + parityWord(line.parity)
            + " against the gateway's RS485 settings, and the A/B wiring: swapped wires give silence)";
    } else if (err == EMBBADCRC) {
        ++counters.crc;
        r.error = Error::Crc;
        r.message = what + ": CRC error in the answer (noise on the line, or baud rate or parity not the gateway's)";
    } else if (err == EMBBADDATA || err == EMBBADEXC || err == EMBUNKEXC || err == EMBMDATA || err == EMBBADSLAVE) {
        ++counters.badReply;
        r.error = Error::BadReply;
        r.message = what + ": answer not understood (" + modbus_strerror(err) + ")";
    } else {
        r.error = Error::Port;
        r.message = what + ": port " + line.port + ": " + modbus_strerror(err);
    }
    return r;
}

Result Master::read(Function function, int start, int count)
{
    const bool bits = function == Function::Coils || function == Function::DiscreteInputs;
    const std::string what = "read " + std::string(functionName(function)) + " " + std::to_string(start)
        + (count > 1 ? ".." + std::to_string(start + count - 1) : "");
    Result r;
    if (!d->ctx) {
        r.error = Error::Port;
        r.message = what + ": the MODBUS port is not open";
        return r;
    }
    const int most = bits ? MODBUS_MAX_READ_BITS : MODBUS_MAX_READ_REGISTERS;
    if (count < 1 || count > most || start < 0 || start + count > 65536) {
        r.error = Error::Usage;
        r.message = what + ": count must be 1.." + std::to_string(most) + " within addresses 0..65535";
        return r;
    }
    const int words = bits ? (count + 15) / 16 : count;
    setTimeout(modbus_set_response_timeout, d->ctx, responseTimeout(d->line, words));
    ++d->counters.requests;
    const auto t0 = std::chrono::steady_clock::now();
    int n = -1;
    if (bits) {
        r.bits.resize(static_cast<std::size_t>(count));
        n = function == Function::Coils ? modbus_read_bits(d->ctx, start, count, r.bits.data())
                                        : modbus_read_input_bits(d->ctx, start, count, r.bits.data());
    } else {
        r.registers.resize(static_cast<std::size_t>(count));
        n = function == Function::HoldingRegisters ? modbus_read_registers(d->ctx, start, count, r.registers.data())
                                                   : modbus_read_input_registers(d->ctx, start, count, r.registers.data());
    }
    const int err = errno;
    const auto elapsed = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - t0);
    if (n != count) {
        Result f = d->failed(n < 0 ? err : EMBBADDATA, what, words);
        f.roundTrip = elapsed;
        return f;
    }
    ++d->counters.answers;
    r.roundTrip = elapsed;
    return r;
}

Result Master::writeRegisters(int start, const std::vector<std::uint16_t> &values, Confirmed)
{
    const int count = static_cast<int>(values.size());
    const std::string what = "write holding " + std::to_string(start) + (count > 1 ? ".." + std::to_string(start + count - 1) : "");
    Result r;
    if (!d->ctx) {
        r.error = Error::Port;
        r.message = what + ": the MODBUS port is not open";
        return r;
    }
    if (count < 1 || count > MODBUS_MAX_WRITE_REGISTERS || start < 0 || start + count > 65536) {
        r.error = Error::Usage;
        r.message = what + ": 1.." + std::to_string(MODBUS_MAX_WRITE_REGISTERS) + " values within addresses 0..65535";
        return r;
    }
    setTimeout(modbus_set_response_timeout, d->ctx, responseTimeout(d->line, 2));
    ++d->counters.requests;
    const auto t0 = std::chrono::steady_clock::now();
    const int n = count == 1 ? modbus_write_register(d->ctx, start, values[0])
                             : modbus_write_registers(d->ctx, start, count, values.data());
    const int err = errno;
    const auto elapsed = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - t0);
    if (n != (count == 1 ? 1 : count)) {
        Result f = d->failed(n < 0 ? err : EMBBADDATA, what, 2);
        f.roundTrip = elapsed;
        return f;
    }
    ++d->counters.answers;
    r.roundTrip = elapsed;
    return r;
}

} // namespace modbus
