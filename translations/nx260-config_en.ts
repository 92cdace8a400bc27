<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>HartDetails</name>
    <message>
        <source>HART Device Details</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART Device &amp;Details...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing sent: open the port and check the preamble length.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reading command %1 ...</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>HartWatch</name>
    <message>
        <source> s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Command %1: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No complete reply frame</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Status: OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Watch needs an open port.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Watch needs the device read first (HART Device Parameter Query).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART reply checksum error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART reply cut short</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PortReconnect</name>
    <message>
        <source>Reconnect</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open the port again when the same device comes back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lost: waiting for %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Remembered</name>
    <message>
        <source>The saved settings (%1) could not be read and were ignored.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Some saved settings (%1) were not valid and were ignored.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StatusLine</name>
    <message>
        <source>Last error: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sent %1 bytes, received %2 bytes</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>%1 must be a number from 0 to %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: no item is selected. Choose one and press Set again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a valid baud rate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 got no reply.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PCBSN must be a number from 0 to %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Inspector must be a number from 0 to %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preamble Length must be a number from 0 to %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read the device (HART Device Parameter Query) first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>At most 15 bytes can be sent by hand.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Each byte needs two hex digits.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>NX260 profiles (*.json);;All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Profile</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Load Profile</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The profile was not saved. %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 was not loaded: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The serial port was lost (the device was unplugged or stopped responding). </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It will be opened again when the device returns.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It has been closed; check the connection and click Open.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read System parameters and the instrument table first?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings in the form were not read from the gateway since Open. Yes reads them; choose Save Profile again when the form is filled. No saves the form as it is.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The profile is in the form; nothing was sent to the gateway. Press each Set button to send its settings.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send all (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings were read from the gateway; Save Profile can save them now.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The change was not recorded: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART reply cut short</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART reply checksum error</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TrafficMonitor</name>
    <message>
        <source> (not written: the port is not open)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>with the chunk before: </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This build cannot write pcap files; save as .log instead.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Traffic log (*.log);;Wireshark capture (*.pcap)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Traffic log (*.log)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Traffic</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save Trend</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CSV (*.csv)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TrendChart</name>
    <message>
        <source>Loop current</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Loop current (mA)</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Window</name>
    <message>
        <source>&amp;Language</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>NX260-HGW Configuration Software</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>E-mail: support@example.com</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tel: +00 000 0000 0000</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Web: www.example.com</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serial Parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Serial Port:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Baud Rate:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parity Bit:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Communication Query</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parameter Initialization</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System Parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MODBUS Slave Address:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RS485 Serial Port Parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Baud Rate</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Parity Bit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RS485A:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RS485B:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Communication Mode:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RS485A data return time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>RS485B data return time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Communication Interval:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>*100ms</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System parameters </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Device Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Instrument Type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Length</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Comm Count</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Instrument Number %1:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Query</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PCBSN:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Inspector:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Transparent Transmission Mode</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART Address:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preamble Length:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART Command Mode:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Manual HART Command:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  HEX (76 89 FD AD)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART Device Basic Parameters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Manufacturing ID:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sensor Type:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preamble Byte Count:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sensor Serial Number:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART Device Parameter Query</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Universal HART Real-Time Data</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Current_Variable_%1:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unit:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART Command Query  </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>  Clear Buffer   </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send Buffer:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Receive Buffer:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Save Profile...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Load Profile...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Recent &amp;Profiles</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Direction</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hex</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Text</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Meaning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Watch</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Seconds between two queries while Watch is checked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>mA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Loop current:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy rows</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save &amp;Traffic...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save T&amp;rend...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Traffic</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>HART T&amp;rend</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Closed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Lost</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Separate lanes</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
