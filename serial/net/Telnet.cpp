// SPDX-License-Identifier: GPL-3.0-or-later
#include "Telnet.h"

#include <cerrno>

namespace SerialComm::detail {

namespace {

// COM-Port-Control commands, client to server; the server answers each with
// the command + 100 and the value in effect.
enum : uint8_t { SetBaudRate = 1, SetDataSize = 2, SetParity = 3, SetStopSize = 4, SetControl = 5 };
constexpr uint8_t ServerOffset = 100;

bool accepted(uint8_t option)
{
    return option == TelnetCodec::OptBinary || option == TelnetCodec::OptSuppressGoAhead
           || option == TelnetCodec::OptComPort;
}

} // namespace

std::vector<uint8_t> TelnetCodec::greeting()
{
    m_willSent[OptComPort] = m_willSent[OptBinary] = m_doSent[OptBinary] = true;
    return {IAC, WILL, OptComPort, IAC, WILL, OptBinary, IAC, DO, OptBinary};
}

void TelnetCodec::escape(const uint8_t *data, size_t length, std::vector<uint8_t> &out)
{
    out.reserve(out.size() + length);
    for (size_t i = 0; i < length; ++i) {
        out.push_back(data[i]);
        if (data[i] == IAC)
            out.push_back(IAC);
    }
}

size_t TelnetCodec::decode(uint8_t *data, size_t length, std::vector<uint8_t> &reply)
{
    size_t kept = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = data[i];
        switch (m_state) {
        case State::Data:
            if (b == IAC)
                m_state = State::Iac;
            else
                data[kept++] = b;
            break;
        case State::Iac:
            if (b == IAC) {
                data[kept++] = IAC;
                m_state = State::Data;
            } else if (b >= WILL) {
                m_verb = b;
                m_state = State::Verb;
            } else if (b == SB) {
                m_sub.clear();
                m_state = State::Sub;
            } else {
                m_state = State::Data; // NOP, GA, AYT...: nothing to do
            }
            break;
        case State::Verb:
            negotiate(m_verb, b, reply);
            m_state = State::Data;
            break;
        case State::Sub:
            if (b == IAC)
                m_state = State::SubIac;
            else if (m_sub.size() < 64) // a real subnegotiation is a few bytes
                m_sub.push_back(b);
            break;
        case State::SubIac:
            if (b == SE) {
                subnegotiation();
                m_state = State::Data;
            } else {
                if (m_sub.size() < 64)
                    m_sub.push_back(b);
                m_state = State::Sub;
            }
            break;
        }
    }
    return kept;
}

void TelnetCodec::negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t> &reply)
{
    auto answer = [&reply](uint8_t v, uint8_t o) { reply.insert(reply.end(), {IAC, v, o}); };
    switch (verb) {
    case WILL:
        if (!accepted(option) || option == OptComPort) {
            answer(DONT, option); // the server has no use for our ports
        } else if (!m_doSent[option]) {
            m_doSent[option] = true;
            answer(DO, option);
        }
        break;
    case DO:
        if (option == OptComPort)
            m_comPort = ComPort::Accepted;
        if (option == OptComPort || option == OptBinary) {
            if (!m_willSent[option]) {
                m_willSent[option] = true;
                answer(WILL, option);
            }
        } else {
            answer(WONT, option);
        }
        break;
    case DONT:
        if (option == OptComPort)
            m_comPort = ComPort::Refused;
        break;
    default: // WONT: nothing was asked of us
        break;
    }
}

void TelnetCodec::subnegotiation()
{
    if (m_sub.size() < 2 || m_sub[0] != OptComPort || m_sub[1] <= ServerOffset)
        return;
    m_answers[static_cast<uint8_t>(m_sub[1] - ServerOffset)] = std::vector<uint8_t>(m_sub.begin() + 2, m_sub.end());
}

bool TelnetCodec::settingsRequest(const LineSettings &s, std::vector<uint8_t> &out)
{
    if (s.baudRate == 0) {
        errno = EINVAL; // 0 would only ask the server for its rate
        return false;
    }
    // The option knows none, odd, even, mark, space (1..5); 1, 2, 1.5 stop bits (1..3).
    static constexpr uint8_t stopCodes[] = {1, 3, 2};
    uint8_t flow = 1; // none
    if (s.outxXonXoffFlow || s.inxXonXoffFlow)
        flow = 2;
    if (s.outxCtsFlow || s.rtsControl == TRtsControl::RtsHandshake)
        flow = 3;
    valuesRequest(
        {
            {SetBaudRate,
             {uint8_t(s.baudRate >> 24), uint8_t(s.baudRate >> 16), uint8_t(s.baudRate >> 8), uint8_t(s.baudRate)}},
            {SetDataSize, {uint8_t(static_cast<int>(s.byteSize) + 5)}},
            {SetParity, {uint8_t(static_cast<int>(s.parity) + 1)}},
            {SetStopSize, {stopCodes[static_cast<int>(s.stopBits)]}},
            {SetControl, {flow}},
        },
        out);
    return true;
}

void TelnetCodec::currentRequest(std::vector<uint8_t> &out)
{
    // A value of 0 asks for the one in effect (SET-CONTROL 0: outbound flow control).
    valuesRequest({{SetBaudRate, {0, 0, 0, 0}}, {SetDataSize, {0}}, {SetParity, {0}}, {SetStopSize, {0}}, {SetControl, {0}}},
                  out);
}

void TelnetCodec::valuesRequest(const Values &values, std::vector<uint8_t> &out)
{
    m_asked = values;
    m_answers.clear();
    for (const auto &[command, value] : m_asked) {
        out.insert(out.end(), {IAC, SB, OptComPort, command});
        escape(value.data(), value.size(), out);
        out.insert(out.end(), {IAC, SE});
    }
}

bool TelnetCodec::answered() const
{
    for (const auto &asked : m_asked) {
        if (!m_answers.contains(asked.first))
            return false;
    }
    return true;
}

int TelnetCodec::settingsOutcome() const
{
    if (!answered())
        return -1;
    for (const auto &[command, value] : m_asked) {
        if (m_answers.at(command) != value)
            return EINVAL;
    }
    return 0;
}

} // namespace SerialComm::detail
