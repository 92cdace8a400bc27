#!/usr/bin/env python3
"""Cross-check the gateway simulator's HART replies with Wireshark's dissector.

Starts nx260-gateway-sim in Transparent Mode, sends HART command 0 and
command 3 through its pty, strips the preambles from each reply, wraps the
frame in a HART-IP response header (version 1, message type 1, message id 3
= token-passing PDU) inside UDP port 5094, writes a pcap and prints what
`tshark -d udp.port==5094,hart_ip -V` makes of it. Exits non-zero when tshark
flags a malformed packet or a field does not decode.

Usage: scripts/check_hart_ip.py PATH/TO/nx260-gateway-sim [out.pcap]
"""
import os
import select
import struct
import subprocess
import sys
import tempfile
import time
import tty

COMMAND0 = bytes.fromhex("00665501 FFFFFFFFFFFF 02 80 00 00 82")


def command3(manufacturer, device_type, device_id):
    frame = bytes([0x82, 0x80 | manufacturer, device_type]) + device_id + bytes([0x03, 0x00])
    checksum = 0
    for b in frame:
        checksum ^= b
    return bytes.fromhex("00665501 FFFFFFFFFFFF") + frame + bytes([checksum])


def exchange(fd, request, timeout=1.0):
    os.write(fd, request)
    reply = b""
    deadline = time.time() + timeout
    while time.time() < deadline:
        ready, _, _ = select.select([fd], [], [], 0.08 if reply else deadline - time.time())
        if not ready:
            if reply:
                break
            continue
        reply += os.read(fd, 512)
    return reply


def strip_preambles(reply):
    i = 0
    while i < len(reply) and reply[i] == 0xFF:
        i += 1
    return reply[i:]


def ip_checksum(header):
    total = sum(struct.unpack("!10H", header))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def packet(payload, sequence):
    hart_ip = struct.pack("!BBBBHH", 1, 1, 3, 0, sequence, 8 + len(payload)) + payload
    udp = struct.pack("!HHHH", 5094, 40000, 8 + len(hart_ip), 0) + hart_ip
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), sequence, 0, 64, 17, 0,
                     bytes([192, 168, 0, 10]), bytes([192, 168, 0, 1]))
    ip = ip[:10] + struct.pack("!H", ip_checksum(ip)) + ip[12:]
    ether = bytes.fromhex("020000000001 020000000002 0800")
    return ether + ip + udp


def write_pcap(path, frames):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i, data in enumerate(frames):
            f.write(struct.pack("<IIII", 1700000000 + i, 0, len(data), len(data)))
            f.write(data)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    sim_exe = sys.argv[1]
    workdir = tempfile.mkdtemp(prefix="hartip-")
    pcap = sys.argv[2] if len(sys.argv) > 2 else os.path.join(workdir, "sim-replies.pcap")
    link = os.path.join(workdir, "gw")
    sim = subprocess.Popen([sim_exe, "--link", link, "--transparent", "--quiet"],
                           stdout=subprocess.PIPE, text=True)
    try:
        sim.stdout.readline()  # port
        sim.stdout.readline()  # link
        fd = os.open(link, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        reply0 = exchange(fd, COMMAND0)
        frame0 = strip_preambles(reply0)
        # Address command 3 with the identity the command 0 reply gave.
        data = frame0[6:]  # delimiter, address, command, count, two status bytes
        reply3 = exchange(fd, command3(data[1] & 0x3F, data[2], data[9:12]))
        frame3 = strip_preambles(reply3)
        os.close(fd)
    finally:
        sim.terminate()
        sim.wait()

    print("command 0 reply:", reply0.hex(" "))
    print("command 3 reply:", reply3.hex(" "))
    write_pcap(pcap, [packet(frame0, 1), packet(frame3, 2)])
    out = subprocess.run(["tshark", "-r", pcap, "-d", "udp.port==5094,hart_ip", "-V"],
                         capture_output=True, text=True).stdout
    print(out)
    problems = [line for line in out.splitlines() if "Malformed" in line or "Expert Info" in line]
    # Both bodies must be dissected through to their checksum.
    bodies = out.split("HART_IP Body")[1:]
    if len(bodies) != 2 or not all("Checksum: 0x" in b.split("\n\n")[0] for b in bodies) \
            or "Device ID:" not in bodies[0] or "QV Units:" not in bodies[1]:
        problems.append("a reply body was not dissected to its end")
    # The dissector shows the checksum without checking it.
    for name, frame in (("command 0", frame0), ("command 3", frame3)):
        count_at = 7 if frame[:1] == b"\x86" else 3
        checksum = 0
        for b in frame[:-1]:
            checksum ^= b
        if len(frame) <= count_at or len(frame) != count_at + 2 + frame[count_at] \
                or checksum != frame[-1]:
            problems.append(name + " reply: byte count or checksum wrong")
    for line in problems:
        print("PROBLEM:", line.strip())
    return 1 if problems or not frame0 or not frame3 else 0


if __name__ == "__main__":
    sys.exit(main())
