<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>HartDetails</name>
    <message>
        <source>HART Device Details</source>
        <translation>HART 设备详情</translation>
    </message>
    <message>
        <source>HART Device &amp;Details...</source>
        <translation>HART 设备详情(&amp;D)...</translation>
    </message>
    <message>
        <source>Reading command %1 ...</source>
        <translation>正在读取命令 %1 ...</translation>
    </message>
    <message>
        <source>Nothing sent: open the port and check the preamble length.</source>
        <translation>未发送任何内容：请打开串口并检查前导码长度。</translation>
    </message>
</context>
<context>
    <name>HartWatch</name>
    <message>
        <source> s</source>
        <translation> 秒</translation>
    </message>
    <message>
        <source>Command %1: </source>
        <translation>命令 %1：</translation>
    </message>
    <message>
        <source>No complete reply frame</source>
        <translation>没有完整的应答帧</translation>
    </message>
    <message>
        <source>Status: OK</source>
        <translation>状态：正常</translation>
    </message>
    <message>
        <source>Watch needs an open port.</source>
        <translation>监视需要先打开串口。</translation>
    </message>
    <message>
        <source>Watch needs the device read first (HART Device Parameter Query).</source>
        <translation>监视需要先读取设备（HART 设备参数查询）。</translation>
    </message>
    <message>
        <source>HART reply checksum error</source>
        <translation>HART 应答校验和错误</translation>
    </message>
    <message>
        <source>HART reply cut short</source>
        <translation>HART 应答不完整</translation>
    </message>
</context>
<context>
    <name>PortReconnect</name>
    <message>
        <source>Reconnect</source>
        <translation>自动重连</translation>
    </message>
    <message>
        <source>Open the port again when the same device comes back</source>
        <translation>同一设备恢复时重新打开串口</translation>
    </message>
    <message>
        <source>Lost: waiting for %1</source>
        <translation>已丢失：正在等待 %1</translation>
    </message>
</context>
<context>
    <name>Remembered</name>
    <message>
        <source>The saved settings (%1) could not be read and were ignored.</source>
        <translation>保存的设置（%1）无法读取，已忽略。</translation>
    </message>
    <message>
        <source>Some saved settings (%1) were not valid and were ignored.</source>
        <translation>部分保存的设置（%1）无效，已忽略。</translation>
    </message>
</context>
<context>
    <name>StatusLine</name>
    <message>
        <source>Last error: </source>
        <translation>最近错误：</translation>
    </message>
    <message>
        <source>Sent %1 bytes, received %2 bytes</source>
        <translation>已发送 %1 字节，已接收 %2 字节</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>Send all (%1)</source>
        <translation>全部发送（%1）</translation>
    </message>
    <message>
        <source>The serial port was lost (the device was unplugged or stopped responding). </source>
        <translation>串口已丢失（设备被拔出或停止响应）。</translation>
    </message>
    <message>
        <source>It will be opened again when the device returns.</source>
        <translation>设备恢复后将自动重新打开。</translation>
    </message>
    <message>
        <source>It has been closed; check the connection and click Open.</source>
        <translation>串口已关闭；请检查连接后点击“打开”。</translation>
    </message>
    <message>
        <source>Read System parameters and the instrument table first?</source>
        <translation>是否先读取系统参数和仪表表？</translation>
    </message>
    <message>
        <source>The settings in the form were not read from the gateway since Open. Yes reads them; choose Save Profile again when the form is filled. No saves the form as it is.</source>
        <translation>自打开串口以来，表单中的设置尚未从网关读取。选择“是”将读取它们，表单填好后请再次选择“保存配置”；选择“否”则按表单现状保存。</translation>
    </message>
    <message>
        <source>The profile is in the form; nothing was sent to the gateway. Press each Set button to send its settings.</source>
        <translation>配置已载入表单，尚未向网关发送任何内容。请按各个“设置”按钮发送相应设置。</translation>
    </message>
    <message>
        <source>The settings were read from the gateway; Save Profile can save them now.</source>
        <translation>已从网关读取设置；现在可以用“保存配置”保存。</translation>
    </message>
    <message>
        <source>The change was not recorded: %1</source>
        <translation>此项更改未能记录：%1</translation>
    </message>
    <message>
        <source>%1 must be a number from 0 to %2.</source>
        <translation>%1 必须是 0 到 %2 之间的数字。</translation>
    </message>
    <message>
        <source>%1: no item is selected. Choose one and press Set again.</source>
        <translation>%1：未选择任何项。请选择一项后再按“设置”。</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a valid baud rate</source>
        <translation>“%1”不是有效的波特率</translation>
    </message>
    <message>
        <source>%1 got no reply.</source>
        <translation>%1 没有收到应答。</translation>
    </message>
    <message>
        <source>PCBSN must be a number from 0 to %1.</source>
        <translation>PCBSN 必须是 0 到 %1 之间的数字。</translation>
    </message>
    <message>
        <source>Inspector must be a number from 0 to %1.</source>
        <translation>检验员必须是 0 到 %1 之间的数字。</translation>
    </message>
    <message>
        <source>Preamble Length must be a number from 0 to %1.</source>
        <translation>前导码长度必须是 0 到 %1 之间的数字。</translation>
    </message>
    <message>
        <source>Read the device (HART Device Parameter Query) first.</source>
        <translation>请先读取设备（HART 设备参数查询）。</translation>
    </message>
    <message>
        <source>At most 15 bytes can be sent by hand.</source>
        <translation>手动最多可发送 15 个字节。</translation>
    </message>
    <message>
        <source>Each byte needs two hex digits.</source>
        <translation>每个字节需要两位十六进制数字。</translation>
    </message>
    <message>
        <source>NX260 profiles (*.json);;All files (*)</source>
        <translation>NX260 配置文件 (*.json);;所有文件 (*)</translation>
    </message>
    <message>
        <source>Save Profile</source>
        <translation>保存配置文件</translation>
    </message>
    <message>
        <source>Load Profile</source>
        <translation>加载配置文件</translation>
    </message>
    <message>
        <source>The profile was not saved. %1.</source>
        <translation>配置文件未保存。%1。</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>Cannot read %1: %2</source>
        <translation>无法读取 %1：%2</translation>
    </message>
    <message>
        <source>%1 was not loaded: %2</source>
        <translation>%1 未加载：%2</translation>
    </message>
    <message>
        <source>HART reply cut short</source>
        <translation>HART 应答不完整</translation>
    </message>
    <message>
        <source>HART reply checksum error</source>
        <translation>HART 应答校验和错误</translation>
    </message>
</context>
<context>
    <name>TrafficMonitor</name>
    <message>
        <source> (not written: the port is not open)</source>
        <translation>（未写出：串口未打开）</translation>
    </message>
    <message>
        <source>with the chunk before: </source>
        <translation>连同上一数据块：</translation>
    </message>
    <message>
        <source>This build cannot write pcap files; save as .log instead.</source>
        <translation>此版本无法写入 pcap 文件；请另存为 .log。</translation>
    </message>
    <message>
        <source>Traffic log (*.log);;Wireshark capture (*.pcap)</source>
        <translation>通信日志 (*.log);;Wireshark 抓包 (*.pcap)</translation>
    </message>
    <message>
        <source>Traffic log (*.log)</source>
        <translation>通信日志 (*.log)</translation>
    </message>
    <message>
        <source>Save Traffic</source>
        <translation>保存通信记录</translation>
    </message>
    <message>
        <source>Save Trend</source>
        <translation>保存趋势</translation>
    </message>
    <message>
        <source>CSV (*.csv)</source>
        <translation>CSV (*.csv)</translation>
    </message>
</context>
<context>
    <name>TrendChart</name>
    <message>
        <source>Loop current</source>
        <translation>回路电流</translation>
    </message>
    <message>
        <source>Loop current (mA)</source>
        <translation>回路电流 (mA)</translation>
    </message>
</context>
<context>
    <name>Window</name>
    <message>
        <source>&amp;Language</source>
        <translation>语言(&amp;L)</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>文件(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>退出(&amp;Q)</translation>
    </message>
    <message>
        <source>NX260-HGW Configuration Software</source>
        <translation>NX260-HGW 配置软件</translation>
    </message>
    <message>
        <source>E-mail: support@example.com</source>
        <translation>邮箱：support@example.com</translation>
    </message>
    <message>
        <source>Tel: +00 000 0000 0000</source>
        <translation>电话：+00 000 0000 0000</translation>
    </message>
    <message>
        <source>Web: www.example.com</source>
        <translation>网址：www.example.com</translation>
    </message>
    <message>
        <source>Serial Parameters</source>
        <translation>串口参数</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>Serial Port:</source>
        <translation>串口：</translation>
    </message>
    <message>
        <source>Baud Rate:</source>
        <translation>波特率：</translation>
    </message>
    <message>
        <source>Parity Bit:</source>
        <translation>校验位：</translation>
    </message>
    <message>
        <source>Communication Query</source>
        <translation>通信查询</translation>
    </message>
    <message>
        <source>Parameter Initialization</source>
        <translation>参数初始化</translation>
    </message>
    <message>
        <source>System Parameters</source>
        <translation>系统参数</translation>
    </message>
    <message>
        <source>Set</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>MODBUS Slave Address:</source>
        <translation>MODBUS 从站地址：</translation>
    </message>
    <message>
        <source>RS485 Serial Port Parameters</source>
        <translation>RS485 串口参数</translation>
    </message>
    <message>
        <source>Baud Rate</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>Parity Bit</source>
        <translation>校验位</translation>
    </message>
    <message>
        <source>RS485A:</source>
        <translation>RS485A：</translation>
    </message>
    <message>
        <source>RS485B:</source>
        <translation>RS485B：</translation>
    </message>
    <message>
        <source>Communication Mode:</source>
        <translation>通信模式：</translation>
    </message>
    <message>
        <source>RS485A data return time:</source>
        <translation>RS485A 数据返回时间：</translation>
    </message>
    <message>
        <source>RS485B data return time:</source>
        <translation>RS485B 数据返回时间：</translation>
    </message>
    <message>
        <source>Communication Interval:</source>
        <translation>通信间隔：</translation>
    </message>
    <message>
        <source>*100ms</source>
        <translation>*100ms</translation>
    </message>
    <message>
        <source>System parameters </source>
        <translation>系统参数查询</translation>
    </message>
    <message>
        <source>Device Mode</source>
        <translation>设备模式</translation>
    </message>
    <message>
        <source>Instrument Type</source>
        <translation>仪表类型</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>长度</translation>
    </message>
    <message>
        <source>Comm Count</source>
        <translation>通信次数</translation>
    </message>
    <message>
        <source>Instrument Number %1:</source>
        <translation>仪表 %1：</translation>
    </message>
    <message>
        <source>Query</source>
        <translation>查询</translation>
    </message>
    <message>
        <source>PCBSN:</source>
        <translation>PCBSN：</translation>
    </message>
    <message>
        <source>Inspector:</source>
        <translation>检验员：</translation>
    </message>
    <message>
        <source>Transparent Transmission Mode</source>
        <translation>透明传输模式</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>HART Address:</source>
        <translation>HART 地址：</translation>
    </message>
    <message>
        <source>Preamble Length:</source>
        <translation>前导码长度：</translation>
    </message>
    <message>
        <source>HART Command Mode:</source>
        <translation>HART 命令模式：</translation>
    </message>
    <message>
        <source>Manual HART Command:</source>
        <translation>手动 HART 命令：</translation>
    </message>
    <message>
        <source>  HEX (76 89 FD AD)</source>
        <translation>  十六进制 (76 89 FD AD)</translation>
    </message>
    <message>
        <source>HART Device Basic Parameters</source>
        <translation>HART 设备基本参数</translation>
    </message>
    <message>
        <source>Manufacturing ID:</source>
        <translation>制造商 ID：</translation>
    </message>
    <message>
        <source>Sensor Type:</source>
        <translation>传感器类型：</translation>
    </message>
    <message>
        <source>Preamble Byte Count:</source>
        <translation>前导码字节数：</translation>
    </message>
    <message>
        <source>Sensor Serial Number:</source>
        <translation>传感器序列号：</translation>
    </message>
    <message>
        <source>HART Device Parameter Query</source>
        <translation>HART 设备参数查询</translation>
    </message>
    <message>
        <source>Universal HART Real-Time Data</source>
        <translation>通用 HART 实时数据</translation>
    </message>
    <message>
        <source>Current_Variable_%1:</source>
        <translation>当前变量_%1：</translation>
    </message>
    <message>
        <source>Unit:</source>
        <translation>单位：</translation>
    </message>
    <message>
        <source>HART Command Query  </source>
        <translation>HART 命令查询</translation>
    </message>
    <message>
        <source>  Clear Buffer   </source>
        <translation>清空缓冲区</translation>
    </message>
    <message>
        <source>Send Buffer:</source>
        <translation>发送缓冲区：</translation>
    </message>
    <message>
        <source>Receive Buffer:</source>
        <translation>接收缓冲区：</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>&amp;Save Profile...</source>
        <translation>保存配置文件(&amp;S)...</translation>
    </message>
    <message>
        <source>&amp;Load Profile...</source>
        <translation>加载配置文件(&amp;L)...</translation>
    </message>
    <message>
        <source>Recent &amp;Profiles</source>
        <translation>最近的配置文件(&amp;P)</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>Direction</source>
        <translation>方向</translation>
    </message>
    <message>
        <source>Hex</source>
        <translation>十六进制</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>文本</translation>
    </message>
    <message>
        <source>Meaning</source>
        <translation>含义</translation>
    </message>
    <message>
        <source>Watch</source>
        <translation>监视</translation>
    </message>
    <message>
        <source>Seconds between two queries while Watch is checked</source>
        <translation>勾选“监视”时两次查询之间的秒数</translation>
    </message>
    <message>
        <source>mA</source>
        <translation>mA</translation>
    </message>
    <message>
        <source>Loop current:</source>
        <translation>回路电流：</translation>
    </message>
    <message>
        <source>Copy rows</source>
        <translation>复制行</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>Save &amp;Traffic...</source>
        <translation>保存通信记录(&amp;T)...</translation>
    </message>
    <message>
        <source>Save T&amp;rend...</source>
        <translation>保存趋势(&amp;R)...</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>视图(&amp;V)</translation>
    </message>
    <message>
        <source>&amp;Traffic</source>
        <translation>通信记录(&amp;T)</translation>
    </message>
    <message>
        <source>HART T&amp;rend</source>
        <translation>HART 趋势(&amp;R)</translation>
    </message>
    <message>
        <source>Closed</source>
        <translation>已关闭</translation>
    </message>
    <message>
        <source>Lost</source>
        <translation>已丢失</translation>
    </message>
    <message>
        <source>Separate lanes</source>
        <translation>分道显示</translation>
    </message>
</context>
</TS>
