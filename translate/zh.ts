<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Built on</source>
        <translation>构建于</translation>
    </message>
    <message>
        <source>The program is used for power off protection by SNMP.</source>
        <translation>本程序通过 SNMP 为计算机提供断电保护。</translation>
    </message>
</context>
<context>
    <name>AddHostDialog</name>
    <message>
        <source>Modify</source>
        <translation>修改</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Sure</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Invalid IPv4 address!</source>
        <translation>无效的 IPv4 地址！</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Searching for host...</source>
        <translation>正在查找主机...</translation>
    </message>
    <message>
        <source>Success</source>
        <translation>成功</translation>
    </message>
    <message>
        <source>Host is online!</source>
        <translation>主机在线！</translation>
    </message>
    <message>
        <source>Host is offline!</source>
        <translation>主机离线！</translation>
    </message>
    <message>
        <source>unchanged</source>
        <translation>未更改</translation>
    </message>
    <message>
        <source>The stored secrets are not shown here: type them to query the card with them.</source>
        <translation>已保存的密钥不在此显示：请输入后再用其查询该卡。</translation>
    </message>
    <message>
        <source>No query: the SNMP port must be a number from 1 to 65535.</source>
        <translation>未查询：SNMP 端口必须是 1 到 65535 之间的数字。</translation>
    </message>
    <message>
        <source>No query: choose the SNMP version first.</source>
        <translation>未查询：请先选择 SNMP 版本。</translation>
    </message>
    <message>
        <source>Asking the card...</source>
        <translation>正在查询该卡...</translation>
    </message>
    <message>
        <source>model unknown</source>
        <translation>型号未知</translation>
    </message>
    <message>
        <source>on line</source>
        <translation>市电供电</translation>
    </message>
    <message>
        <source>on battery</source>
        <translation>电池供电</translation>
    </message>
    <message>
        <source>on bypass</source>
        <translation>旁路供电</translation>
    </message>
    <message>
        <source>output status %1</source>
        <translation>输出状态 %1</translation>
    </message>
    <message>
        <source>battery low</source>
        <translation>电池电量低</translation>
    </message>
    <message>
        <source>capacity %1 %</source>
        <translation>容量 %1 %</translation>
    </message>
    <message>
        <source>Answers: %1</source>
        <translation>已应答：%1</translation>
    </message>
    <message>
        <source>battery status</source>
        <translation>电池状态</translation>
    </message>
    <message>
        <source>input status</source>
        <translation>输入状态</translation>
    </message>
    <message>
        <source>output status</source>
        <translation>输出状态</translation>
    </message>
    <message>
        <source>battery capacity</source>
        <translation>电池容量</translation>
    </message>
    <message>
        <source>The card answers (%1) but has no such object: %2</source>
        <translation>该卡已应答（%1），但没有以下对象：%2</translation>
    </message>
    <message>
        <source>No answer: wrong community, wrong port or the card is unreachable</source>
        <translation>无应答：团体名错误、端口错误或该卡无法访问</translation>
    </message>
    <message>
        <source>No answer: wrong password or privacy type, wrong port or the card is unreachable</source>
        <translation>无应答：密码或加密类型错误、端口错误或该卡无法访问</translation>
    </message>
    <message>
        <source>No answer: wrong port or the card is unreachable</source>
        <translation>无应答：端口错误或该卡无法访问</translation>
    </message>
    <message>
        <source>Authentication failure: the card does not take this user name as pass phrase with %1</source>
        <translation>认证失败：该卡不接受以此用户名作为 %1 认证口令</translation>
    </message>
    <message>
        <source>Decryption failure: the card does not take this password with %1</source>
        <translation>解密失败：该卡不接受此 %1 密码</translation>
    </message>
    <message>
        <source>Unknown user name: the card has no user %1</source>
        <translation>未知用户名：该卡没有用户 %1</translation>
    </message>
    <message>
        <source>authentication and privacy</source>
        <translation>认证并加密</translation>
    </message>
    <message>
        <source>authentication without privacy</source>
        <translation>仅认证不加密</translation>
    </message>
    <message>
        <source>no authentication</source>
        <translation>不认证</translation>
    </message>
    <message>
        <source>Unsupported security level: the card does not serve user %1 with %2</source>
        <translation>不支持的安全级别：该卡不以“%2”为用户 %1 提供服务</translation>
    </message>
    <message>
        <source>No query: %1</source>
        <translation>未查询：%1</translation>
    </message>
    <message>
        <source>Asking the server...</source>
        <translation>正在询问服务器...</translation>
    </message>
    <message>
        <source>No query: the port must be a number from 1 to 65535.</source>
        <translation>未查询：端口必须是 1 到 65535 之间的数字。</translation>
    </message>
    <message>
        <source>forced shutdown</source>
        <translation>强制关机</translation>
    </message>
    <message>
        <source>Answers: %1 (status %2)</source>
        <translation>应答：%1（状态 %2）</translation>
    </message>
    <message>
        <source>Connection refused: no UPS server listens on port %1</source>
        <translation>连接被拒绝：端口 %1 上没有 UPS 服务器监听</translation>
    </message>
    <message>
        <source>The server cannot be reached: %1</source>
        <translation>无法连接服务器：%1</translation>
    </message>
    <message>
        <source>No answer: the server does not answer within %1 seconds</source>
        <translation>无应答：服务器在 %1 秒内没有应答</translation>
    </message>
    <message>
        <source>UNKNOWN-UPS: the server has no UPS named %1</source>
        <translation>UNKNOWN-UPS：服务器没有名为 %1 的 UPS</translation>
    </message>
    <message>
        <source>ACCESS-DENIED: the server does not let this computer read the UPS</source>
        <translation>ACCESS-DENIED：服务器不允许本计算机读取该 UPS</translation>
    </message>
    <message>
        <source>DATA-STALE: the server has no fresh data from its UPS</source>
        <translation>DATA-STALE：服务器没有来自其 UPS 的最新数据</translation>
    </message>
    <message>
        <source>The server answers with an error: %1</source>
        <translation>服务器应答错误：%1</translation>
    </message>
</context>
<context>
    <name>Demo</name>
    <message>
        <source>Demo build: the system will not be shut down</source>
        <translation>演示版本：系统不会被关机</translation>
    </message>
</context>
<context>
    <name>DesktopNotifier</name>
    <message>
        <source>Protection service not running</source>
        <translation>保护服务未运行</translation>
    </message>
    <message>
        <source>This machine is not protected until the protection service runs.</source>
        <translation>保护服务运行之前，本机不受保护。</translation>
    </message>
    <message>
        <source>UPS card offline: %1</source>
        <translation>UPS 卡离线：%1</translation>
    </message>
    <message>
        <source>The card at %1 does not answer; what its UPS does is unknown.</source>
        <translation>%1 的卡没有应答；其 UPS 的状态未知。</translation>
    </message>
    <message>
        <source>Battery low: %1</source>
        <translation>电池电量低：%1</translation>
    </message>
    <message>
        <source>The UPS at %1 reports a low battery; its power may end soon.</source>
        <translation>%1 的 UPS 报告电池电量低；其供电可能很快中断。</translation>
    </message>
    <message>
        <source>Mains failure: %1</source>
        <translation>市电故障：%1</translation>
    </message>
    <message>
        <source>The UPS at %1 runs on battery.</source>
        <translation>%1 的 UPS 正在使用电池供电。</translation>
    </message>
    <message>
        <source>UPS card answers again: %1</source>
        <translation>UPS 卡重新应答：%1</translation>
    </message>
    <message>
        <source>The card at %1 answers again; its UPS runs on mains power.</source>
        <translation>%1 的卡重新应答；其 UPS 使用市电供电。</translation>
    </message>
    <message>
        <source>Mains back: %1</source>
        <translation>市电恢复：%1</translation>
    </message>
    <message>
        <source>The UPS at %1 runs on mains power again.</source>
        <translation>%1 的 UPS 已恢复市电供电。</translation>
    </message>
    <message numerus="yes">
        <source>Shutdown in %n minute(s)</source>
        <translation>
            <numerusform>%n 分钟后关机</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>This machine shuts down in %n minute(s) unless the power comes back.</source>
        <translation>
            <numerusform>除非恢复供电，本机将在 %n 分钟后关机。</numerusform>
        </translation>
    </message>
    <message>
        <source>Shutdown due but refused</source>
        <translation>应当关机但被拒绝</translation>
    </message>
    <message>
        <source>Shutdown canceled</source>
        <translation>关机已取消</translation>
    </message>
    <message>
        <source>The system shutdown is canceled; this machine stays on.</source>
        <translation>系统关机已取消；本机继续运行。</translation>
    </message>
    <message>
        <source>Protection service stopped</source>
        <translation>保护服务已停止</translation>
    </message>
    <message>
        <source>This machine is not protected until the protection service runs again.</source>
        <translation>保护服务重新运行之前，本机不受保护。</translation>
    </message>
    <message>
        <source>Protection service back</source>
        <translation>保护服务已恢复</translation>
    </message>
    <message>
        <source>This machine is protected again.</source>
        <translation>本机重新受到保护。</translation>
    </message>
</context>
<context>
    <name>DetailsPanel</name>
    <message>
        <source>other</source>
        <translation>其他</translation>
    </message>
    <message>
        <source>none (output off)</source>
        <translation>无（输出关闭）</translation>
    </message>
    <message>
        <source>normal</source>
        <translation>正常</translation>
    </message>
    <message>
        <source>bypass</source>
        <translation>旁路</translation>
    </message>
    <message>
        <source>battery</source>
        <translation>电池</translation>
    </message>
    <message>
        <source>booster (low input raised)</source>
        <translation>升压（输入偏低）</translation>
    </message>
    <message>
        <source>reducer (high input lowered)</source>
        <translation>降压（输入偏高）</translation>
    </message>
    <message>
        <source>unknown (%1)</source>
        <translation>未知（%1）</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>low</source>
        <translation>电量低</translation>
    </message>
    <message>
        <source>depleted</source>
        <translation>耗尽</translation>
    </message>
    <message>
        <source>%1 Hz</source>
        <translation>%1 Hz</translation>
    </message>
    <message>
        <source>%1 %</source>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 分钟</translation>
    </message>
    <message>
        <source>%1 V</source>
        <translation>%1 V</translation>
    </message>
    <message>
        <source>No details: the protection service is not running</source>
        <translation>没有详细信息：保护服务未运行</translation>
    </message>
    <message>
        <source>Select a card to see what it reports</source>
        <translation>选择一块卡以查看它报告的内容</translation>
    </message>
    <message>
        <source>%1: no details reported yet</source>
        <translation>%1：尚未报告详细信息</translation>
    </message>
    <message>
        <source>Model:</source>
        <translation>型号：</translation>
    </message>
    <message>
        <source>Output source:</source>
        <translation>输出来源：</translation>
    </message>
    <message>
        <source>Battery status:</source>
        <translation>电池状态：</translation>
    </message>
    <message>
        <source>Capacity:</source>
        <translation>电池容量：</translation>
    </message>
    <message>
        <source>Estimated runtime:</source>
        <translation>预计续航：</translation>
    </message>
    <message>
        <source>Load:</source>
        <translation>负载：</translation>
    </message>
    <message>
        <source>Input voltage:</source>
        <translation>输入电压：</translation>
    </message>
    <message>
        <source>Output voltage:</source>
        <translation>输出电压：</translation>
    </message>
    <message>
        <source>Input frequency:</source>
        <translation>输入频率：</translation>
    </message>
    <message>
        <source>Battery temperature:</source>
        <translation>电池温度：</translation>
    </message>
    <message>
        <source>Last answer:</source>
        <translation>最后应答：</translation>
    </message>
    <message>
        <source>%1 °C</source>
        <translation>%1 °C</translation>
    </message>
</context>
<context>
    <name>HistoryChart</name>
    <message>
        <source>Capacity</source>
        <translation>容量</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>负载</translation>
    </message>
    <message>
        <source>Power trouble</source>
        <translation>供电故障</translation>
    </message>
    <message>
        <source>Other events</source>
        <translation>其他事件</translation>
    </message>
    <message>
        <source>No samples in the last 24 hours</source>
        <translation>最近 24 小时内没有记录</translation>
    </message>
</context>
<context>
    <name>ListWidgetItem</name>
    <message>
        <source>Authentication failed</source>
        <translation>认证失败</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>离线</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>正常</translation>
    </message>
    <message>
        <source>Battery low</source>
        <translation>电池电量低</translation>
    </message>
    <message>
        <source>Unknow</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>No transfer</source>
        <translation>无转换</translation>
    </message>
    <message>
        <source>High line voltage</source>
        <translation>输入电压过高</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>On line</source>
        <translation>在线</translation>
    </message>
    <message>
        <source>On battery</source>
        <translation>电池供电</translation>
    </message>
    <message>
        <source>On bypass</source>
        <translation>旁路供电</translation>
    </message>
    <message>
        <source>Battery status: %1</source>
        <translation>电池状态：%1</translation>
    </message>
    <message>
        <source>Input status: %1</source>
        <translation>输入状态：%1</translation>
    </message>
    <message>
        <source>Output status: %1</source>
        <translation>输出状态：%1</translation>
    </message>
    <message>
        <source>Battery capacity: %1 %</source>
        <translation>电池容量：%1 %</translation>
    </message>
</context>
<context>
    <name>LogDialog</name>
    <message>
        <source>Information</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Are you sure to remove all logs?</source>
        <translation>确定要删除所有日志吗？</translation>
    </message>
    <message>
        <source>Sure</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Save event log</source>
        <translation>保存事件日志</translation>
    </message>
    <message>
        <source>CSV file (*.csv)</source>
        <translation>CSV 文件 (*.csv)</translation>
    </message>
    <message>
        <source>XLSX file(*.xlsx)</source>
        <translation>XLSX 文件(*.xlsx)</translation>
    </message>
    <message>
        <source>Export log</source>
        <translation>导出日志</translation>
    </message>
    <message>
        <source>Waiting for operation completed...</source>
        <translation>正在等待操作完成...</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>%1 already exists.
Do you want to replace it?</source>
        <translation>%1 已存在。
要替换它吗？</translation>
    </message>
    <message>
        <source>Reading the event log...</source>
        <translation>正在读取事件日志...</translation>
    </message>
    <message>
        <source>The event log was exported to %1.</source>
        <translation>事件日志已导出到 %1。</translation>
    </message>
    <message>
        <source>The event log could not be exported to %1: %2</source>
        <translation>事件日志无法导出到 %1：%2</translation>
    </message>
</context>
<context>
    <name>LogWidget</name>
    <message>
        <source>Event log</source>
        <translation>事件日志</translation>
    </message>
    <message>
        <source>The protection service is not running: the event log cannot be read now. Start it with: sudo systemctl start vigilex</source>
        <translation>保护服务未运行：现在无法读取事件日志。启动命令：sudo systemctl start vigilex</translation>
    </message>
    <message>
        <source>The event log cannot be read: %1</source>
        <translation>无法读取事件日志：%1</translation>
    </message>
    <message>
        <source>&amp;Start date:</source>
        <translation>开始日期(&amp;S)：</translation>
    </message>
    <message>
        <source>&amp;End date:</source>
        <translation>结束日期(&amp;E)：</translation>
    </message>
    <message>
        <source>&amp;Read</source>
        <translation>读取(&amp;R)</translation>
    </message>
    <message>
        <source>Save &amp;as...</source>
        <translation>另存为(&amp;A)...</translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation>清除(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>确定(&amp;O)</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>Date</source>
        <translation>日期</translation>
    </message>
    <message>
        <source>Host address</source>
        <translation>主机地址</translation>
    </message>
    <message>
        <source>Event</source>
        <translation>事件</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>Object</source>
        <translation>对象</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>System</source>
        <translation>系统</translation>
    </message>
    <message>
        <source>SNMP Vigilex</source>
        <translation>SNMP Vigilex 断电保护</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>日志</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Sure</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>MD5</source>
        <translation>MD5</translation>
    </message>
    <message>
        <source>SHA</source>
        <translation>SHA</translation>
    </message>
    <message>
        <source>DES</source>
        <translation>DES</translation>
    </message>
    <message>
        <source>AES</source>
        <translation>AES</translation>
    </message>
    <message>
        <source>System shutdown is canceled</source>
        <translation>系统关机已取消</translation>
    </message>
    <message>
        <source>System will be shutdown in %1 minute(s)</source>
        <translation>系统将在 %1 分钟后关机</translation>
    </message>
    <message>
        <source>Shutdown application is invalid!</source>
        <translation>关机应用程序无效！</translation>
    </message>
    <message>
        <source>Start to executing shutdown application.</source>
        <translation>开始执行关机应用程序。</translation>
    </message>
    <message>
        <source>Shutdown application exit!</source>
        <translation>关机应用程序退出！</translation>
    </message>
    <message>
        <source>System shutdown impossible: no system bus (%1)</source>
        <translation>无法关闭系统：没有系统总线（%1）</translation>
    </message>
    <message>
        <source>System shutdown impossible: logind does not answer (%1)</source>
        <translation>无法关闭系统：logind 没有应答（%1）</translation>
    </message>
    <message>
        <source>System shutdown not permitted: logind answers &quot;%1&quot;; this user needs the right to power off</source>
        <translation>不允许关闭系统：logind 回答“%1”；此用户需要关机权限</translation>
    </message>
    <message>
        <source>System shutdown refused by logind: %1</source>
        <translation>logind 拒绝关闭系统：%1</translation>
    </message>
    <message>
        <source>The power trouble is over: the refused system shutdown is no longer due, the protection is armed again</source>
        <translation>供电故障已结束：被拒绝的系统关机不再需要，保护已重新就绪</translation>
    </message>
    <message>
        <source>Events cannot be stored at the moment; they are kept until storing works again</source>
        <translation>事件暂时无法保存；在保存恢复之前它们会被保留</translation>
    </message>
    <message>
        <source>Storing events works again; the events kept meanwhile are stored</source>
        <translation>事件保存已恢复；期间保留的事件已保存</translation>
    </message>
    <message>
        <source>The protection service has stopped; the lamps stay grey until it is back</source>
        <translation>保护服务已停止；在它恢复之前指示灯保持灰色</translation>
    </message>
    <message>
        <source>The protection service is back</source>
        <translation>保护服务已恢复</translation>
    </message>
    <message>
        <source>The protection service refused the change: %1</source>
        <translation>保护服务拒绝了此更改：%1</translation>
    </message>
    <message>
        <source>Waiting for authorisation...</source>
        <translation>正在等待授权...</translation>
    </message>
    <message>
        <source>The change was refused: you are not authorised to change the UPS protection.</source>
        <translation>更改被拒绝：您无权更改 UPS 电源保护。</translation>
    </message>
    <message>
        <source>The change was refused: %1</source>
        <translation>更改被拒绝：%1</translation>
    </message>
    <message>
        <source>Shutdown in %1</source>
        <translation>%1 后关机</translation>
    </message>
    <message>
        <source>Select a card to see its last 24 hours</source>
        <translation>选择一块卡以查看它最近 24 小时的情况</translation>
    </message>
    <message>
        <source>No history: the protection service is not running</source>
        <translation>没有历史记录：保护服务未运行</translation>
    </message>
    <message>
        <source>Reading the last 24 hours of %1 ...</source>
        <translation>正在读取 %1 最近 24 小时的记录...</translation>
    </message>
    <message>
        <source>The history of %1 could not be read: %2</source>
        <translation>无法读取 %1 的历史记录：%2</translation>
    </message>
    <message>
        <source>Event %1</source>
        <translation>事件 %1</translation>
    </message>
    <message>
        <source>&amp;Settings</source>
        <translation>设置(&amp;S)</translation>
    </message>
    <message>
        <source>&amp;Settings...</source>
        <translation>设置(&amp;S)...</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>退出(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation>语言(&amp;L)</translation>
    </message>
    <message>
        <source>&amp;English</source>
        <translation>English(&amp;E)</translation>
    </message>
    <message>
        <source>中文(&amp;C)</source>
        <translation>中文(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>帮助(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation>关于(&amp;A)...</translation>
    </message>
    <message>
        <source>Mi&amp;nimize</source>
        <translation>最小化(&amp;N)</translation>
    </message>
    <message>
        <source>&amp;Show</source>
        <translation>显示(&amp;S)</translation>
    </message>
    <message>
        <source>Quit SNMP Vigilex; this computer is no longer protected</source>
        <translation>退出 SNMP Vigilex；此计算机将不再受保护</translation>
    </message>
    <message>
        <source>Close this window; the protection service goes on protecting this computer</source>
        <translation>关闭此窗口；保护服务会继续保护此计算机</translation>
    </message>
    <message>
        <source>Quitting stops protecting this computer. Quit?</source>
        <translation>退出后此计算机将不再受保护。确定退出吗？</translation>
    </message>
    <message>
        <source>A shutdown of this computer is due at %1 (in %2); quitting cancels it.</source>
        <translation>此计算机将于 %1（%2 后）关机；退出会取消这次关机。</translation>
    </message>
    <message>
        <source>Quit SNMP Vigilex</source>
        <translation>退出 SNMP Vigilex</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>取消(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Clear content</source>
        <translation>清空内容(&amp;C)</translation>
    </message>
    <message>
        <source>SNMP v&amp;1/v2</source>
        <translation>SNMP v1/v2(&amp;1)</translation>
    </message>
    <message>
        <source>SNMP v&amp;3</source>
        <translation>SNMP v3(&amp;3)</translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation>用户名(&amp;U)：</translation>
    </message>
    <message>
        <source>Pass&amp;word:</source>
        <translation>密码(&amp;W)：</translation>
    </message>
    <message>
        <source>&amp;Authenticate:</source>
        <translation>认证(&amp;A)：</translation>
    </message>
    <message>
        <source>P&amp;rivacy:</source>
        <translation>加密(&amp;R)：</translation>
    </message>
    <message>
        <source>&amp;Host:</source>
        <translation>主机(&amp;H)：</translation>
    </message>
    <message>
        <source>&amp;Query</source>
        <translation>查询(&amp;Q)</translation>
    </message>
    <message>
        <source>SNMP p&amp;ort:</source>
        <translation>SNMP 端口(&amp;O)：</translation>
    </message>
    <message>
        <source>&amp;Community:</source>
        <translation>团体名(&amp;C)：</translation>
    </message>
    <message>
        <source>&amp;Sure</source>
        <translation>确定(&amp;S)</translation>
    </message>
    <message>
        <source>Ca&amp;ncel</source>
        <translation>取消(&amp;N)</translation>
    </message>
    <message>
        <source>N&amp;etwork UPS server</source>
        <translation>网络 UPS 服务器(&amp;E)</translation>
    </message>
    <message>
        <source>P&amp;ort:</source>
        <translation>端口(&amp;O)：</translation>
    </message>
    <message>
        <source>Forced shutdown raised on %1; waiting up to %2 s for %3 follower(s)</source>
        <translation>已在 %1 上发出强制关机；最多等待 %2 秒，等 %3 个跟随者退出</translation>
    </message>
    <message>
        <source>All followers have logged out</source>
        <translation>所有跟随者都已退出登录</translation>
    </message>
    <message>
        <source>%1 follower(s) still logged in after %2 s: going on</source>
        <translation>%2 秒后仍有 %1 个跟随者在线：继续关机</translation>
    </message>
    <message>
        <source>Forced shutdown asked for %1 by %2: shutting down now</source>
        <translation>%2 要求对 %1 强制关机：立即关机</translation>
    </message>
    <message>
        <source>UPS na&amp;me:</source>
        <translation>UPS 名称(&amp;M)：</translation>
    </message>
</context>
<context>
    <name>SNMPInfo</name>
    <message>
        <source>&quot;%1&quot; is not an IPv4 address (four numbers from 0 to 255 with dots)</source>
        <translation>“%1”不是 IPv4 地址（四个 0 到 255 的数字，以点分隔）</translation>
    </message>
    <message>
        <source>The SNMP port must be a number from 1 to 65535</source>
        <translation>SNMP 端口必须是 1 到 65535 之间的数字</translation>
    </message>
    <message>
        <source>The community must not be empty</source>
        <translation>团体名不能为空</translation>
    </message>
    <message>
        <source>The community must not be longer than %1 characters</source>
        <translation>团体名不能超过 %1 个字符</translation>
    </message>
    <message>
        <source>Unknown SNMP version</source>
        <translation>未知的 SNMP 版本</translation>
    </message>
    <message>
        <source>The user name must not be empty</source>
        <translation>用户名不能为空</translation>
    </message>
    <message>
        <source>The user name must have at least %1 characters</source>
        <translation>用户名至少需要 %1 个字符</translation>
    </message>
    <message>
        <source>The user name must not be longer than %1 characters</source>
        <translation>用户名不能超过 %1 个字符</translation>
    </message>
    <message>
        <source>The password must be empty or have at least %1 characters</source>
        <translation>密码必须为空或至少 %1 个字符</translation>
    </message>
    <message>
        <source>The password must not be longer than %1 characters</source>
        <translation>密码不能超过 %1 个字符</translation>
    </message>
    <message>
        <source>Unknown authentication type</source>
        <translation>未知的认证类型</translation>
    </message>
    <message>
        <source>Unknown privacy type</source>
        <translation>未知的加密类型</translation>
    </message>
    <message>
        <source>The UPS name must not be empty</source>
        <translation>UPS 名称不能为空</translation>
    </message>
    <message>
        <source>The UPS name may hold only letters A to Z, digits, &apos;-&apos;, &apos;_&apos; and &apos;.&apos;, at most %1 of them</source>
        <translation>UPS 名称只能包含字母 A 到 Z、数字、“-”、“_”和“.”，最多 %1 个</translation>
    </message>
    <message>
        <source>The user must have no blanks and at most %1 characters</source>
        <translation>用户名不能含空白，最多 %1 个字符</translation>
    </message>
    <message>
        <source>Give both the user and the password, or neither</source>
        <translation>用户名和密码须同时填写或同时留空</translation>
    </message>
    <message>
        <source>The port must be a number from 1 to 65535</source>
        <translation>端口必须是 1 到 65535 之间的数字</translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Host address</source>
        <translation>主机地址</translation>
    </message>
    <message>
        <source>SNMP port</source>
        <translation>SNMP 端口</translation>
    </message>
    <message>
        <source>SNMP version</source>
        <translation>SNMP 版本</translation>
    </message>
    <message>
        <source>Warning messages</source>
        <translation>警告消息</translation>
    </message>
    <message>
        <source>minute(s)</source>
        <translation>分钟</translation>
    </message>
    <message>
        <source>%</source>
        <translation>%</translation>
    </message>
    <message>
        <source>Sure</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>Browse shutdown application</source>
        <translation>选择关机应用程序</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Are you sure to remove host %1</source>
        <translation>确定要删除主机 %1 吗</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Shutdown application is not exist!</source>
        <translation>关机应用程序不存在！</translation>
    </message>
    <message>
        <source>%1 must be a number from %2 to %3, or 0 to switch it off.</source>
        <translation>%1 必须是 %2 到 %3 之间的数字，或者 0 表示关闭。</translation>
    </message>
    <message>
        <source>%1 must be a number from %2 to %3.</source>
        <translation>%1 必须是 %2 到 %3 之间的数字。</translation>
    </message>
    <message>
        <source>The shutdown application would be refused at a power failure: %1</source>
        <translation>断电时关机应用程序将被拒绝运行：%1</translation>
    </message>
    <message>
        <source>On battery now below %1 %: %2. Saving this capacity starts the shutdown at once.</source>
        <translation>以下卡当前由电池供电且电量低于 %1 %：%2。保存此电量将立即开始关机。</translation>
    </message>
    <message>
        <source>AC failed shutdown time is 0: the AC-failed condition will be off.</source>
        <translation>市电故障关机时间为 0：市电故障条件将被关闭。</translation>
    </message>
    <message>
        <source>Battery low shutdown time is 0: the battery-low condition will be off.</source>
        <translation>电池低电量关机时间为 0：电池低电量条件将被关闭。</translation>
    </message>
    <message>
        <source>The shutdown application ended with exit code %1 after %2 s.</source>
        <translation>关机应用程序已结束，退出码 %1，用时 %2 秒。</translation>
    </message>
    <message>
        <source>The shutdown application was stopped by signal %1 after %2 s.</source>
        <translation>关机应用程序被信号 %1 终止，用时 %2 秒。</translation>
    </message>
    <message>
        <source>The change was refused: the shutdown application is an administrator&apos;s choice, and changing or testing it needs an administrator&apos;s authorisation.</source>
        <translation>更改被拒绝：关机应用程序由管理员选择，更改或测试它需要管理员授权。</translation>
    </message>
    <message>
        <source>Waiting for authorisation, then for the test run...</source>
        <translation>正在等待授权，然后等待测试运行...</translation>
    </message>
    <message>
        <source>The test was refused: running the shutdown application in the service needs an administrator&apos;s authorisation.</source>
        <translation>测试被拒绝：在服务中运行关机应用程序需要管理员授权。</translation>
    </message>
    <message>
        <source>The test was refused: %1</source>
        <translation>测试被拒绝：%1</translation>
    </message>
    <message>
        <source>The protection service is not running: nothing can be changed now. Start it with: sudo systemctl start vigilex</source>
        <translation>保护服务未运行：现在无法更改任何设置。启动命令：sudo systemctl start vigilex</translation>
    </message>
    <message>
        <source>Reading the settings...</source>
        <translation>正在读取设置...</translation>
    </message>
    <message>
        <source>The settings cannot be read: %1</source>
        <translation>无法读取设置：%1</translation>
    </message>
    <message>
        <source>&amp;General</source>
        <translation>常规(&amp;G)</translation>
    </message>
    <message>
        <source>Shutdown Con&amp;dition</source>
        <translation>关机条件(&amp;D)</translation>
    </message>
    <message>
        <source>Host c&amp;onnection</source>
        <translation>主机连接(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation>添加(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;Modify</source>
        <translation>修改(&amp;M)</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>删除(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Popup warning message</source>
        <translation>弹出警告消息(&amp;P)</translation>
    </message>
    <message>
        <source>Des&amp;ktop notifications</source>
        <translation>桌面通知(&amp;K)</translation>
    </message>
    <message>
        <source>R&amp;un application before shutdown computer</source>
        <translation>关机前运行应用程序(&amp;U)</translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation>浏览(&amp;B)...</translation>
    </message>
    <message>
        <source>&amp;Test</source>
        <translation>测试(&amp;T)</translation>
    </message>
    <message>
        <source>Maximum e&amp;xecution time:</source>
        <translation>最长执行时间(&amp;X)：</translation>
    </message>
    <message>
        <source>AC &amp;failed shutdown time:</source>
        <translation>市电故障关机时间(&amp;F)：</translation>
    </message>
    <message>
        <source>Battery &amp;low shutdown time:</source>
        <translation>电池低电关机时间(&amp;L)：</translation>
    </message>
    <message>
        <source>AC failed shutdown &amp;capacity:</source>
        <translation>市电故障关机容量(&amp;C)：</translation>
    </message>
    <message>
        <source>&amp;Sure</source>
        <translation>确定(&amp;S)</translation>
    </message>
    <message>
        <source>Ca&amp;ncel</source>
        <translation>取消(&amp;N)</translation>
    </message>
    <message>
        <source>Network UPS ser&amp;ver</source>
        <translation>网络 UPS 服务器(&amp;V)</translation>
    </message>
    <message>
        <source>S&amp;erve the cards to other computers (network UPS protocol)</source>
        <translation>向其他计算机提供 UPS 卡的状态（网络 UPS 协议）(&amp;E)</translation>
    </message>
    <message>
        <source>&amp;IP address:</source>
        <translation>IP 地址(&amp;I)：</translation>
    </message>
    <message>
        <source>TCP port (usuall&amp;y 3493):</source>
        <translation>TCP 端口（通常为 3493）(&amp;Y)：</translation>
    </message>
    <message>
        <source>&amp;How long to wait for followers:</source>
        <translation>等待跟随者的时间(&amp;H)：</translation>
    </message>
    <message>
        <source>second(s)</source>
        <translation>秒</translation>
    </message>
    <message>
        <source>Users (Delete removes the selected one)</source>
        <translation>用户（按 Delete 删除所选用户）</translation>
    </message>
    <message>
        <source>User name</source>
        <translation>用户名</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>Role</source>
        <translation>角色</translation>
    </message>
    <message>
        <source>secondary (follows)</source>
        <translation>secondary（仅跟随）</translation>
    </message>
    <message>
        <source>primary (may force a shutdown)</source>
        <translation>primary（可强制关机）</translation>
    </message>
    <message>
        <source>Ne&amp;w user</source>
        <translation>新建用户(&amp;W)</translation>
    </message>
    <message>
        <source>(unchanged)</source>
        <translation>（不变）</translation>
    </message>
    <message>
        <source>The server&apos;s address must be an IP address.</source>
        <translation>服务器地址必须是 IP 地址。</translation>
    </message>
    <message>
        <source>Every user needs a name and a password.</source>
        <translation>每个用户都需要用户名和密码。</translation>
    </message>
    <message>
        <source>The users cannot be saved: %1</source>
        <translation>无法保存用户：%1</translation>
    </message>
    <message>
        <source>The change was refused: the network UPS server opens a port and grants access, so changing it needs an administrator&apos;s authorisation.</source>
        <translation>更改被拒绝：网络 UPS 服务器会开放端口并授予访问权限，更改它需要管理员授权。</translation>
    </message>
    <message>
        <source>Network UPS server</source>
        <translation>网络 UPS 服务器</translation>
    </message>
</context>
<context>
    <name>SingleInstance</name>
    <message>
        <source>Information</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>SNMP Vigilex already protects this machine in the session of user %1.</source>
        <translation>SNMP Vigilex 已在用户 %1 的会话中保护本机。</translation>
    </message>
    <message>
        <source>Sure</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>StatusLine</name>
    <message>
        <source>battery low</source>
        <translation>电池电量低</translation>
    </message>
    <message>
        <source>mains failure</source>
        <translation>市电故障</translation>
    </message>
    <message>
        <source>Not protected: the protection service is not running. Start it with: sudo systemctl start vigilex</source>
        <translation>未受保护：保护服务未运行。启动命令：sudo systemctl start vigilex</translation>
    </message>
    <message>
        <source> — shutdown in %1</source>
        <translation> — %1 后关机</translation>
    </message>
    <message>
        <source>Shutdown due but refused: %1</source>
        <translation>应当关机，但关机被拒绝：%1</translation>
    </message>
    <message>
        <source>On battery: %1</source>
        <translation>电池供电：%1</translation>
    </message>
    <message>
        <source>Shutdown in %1</source>
        <translation>%1 后关机</translation>
    </message>
    <message>
        <source>Not protected: no UPS card is listed; add one under Settings</source>
        <translation>未受保护：没有 UPS 卡；请在“设置”中添加</translation>
    </message>
    <message>
        <source>Not protected: no card answers (offline: %1)</source>
        <translation>未受保护：没有卡应答（离线：%1）</translation>
    </message>
    <message numerus="yes">
        <source>Protected by %n card(s); offline: %1</source>
        <translation>
            <numerusform>受 %n 块卡保护；离线：%1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Waiting for the first report of %n card(s)</source>
        <translation>
            <numerusform>正在等待 %n 块卡的首次报告</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Protected — %n card(s) online</source>
        <translation>
            <numerusform>受保护 — %n 块卡在线</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n waiting for a first report</source>
        <translation>
            <numerusform>，%n 块等待首次报告</numerusform>
        </translation>
    </message>
    <message>
        <source>Not protected: the protection service is not running</source>
        <translation>未受保护：保护服务未运行</translation>
    </message>
    <message>
        <source>Not protected: no UPS card is listed</source>
        <translation>未受保护：未列出 UPS 卡</translation>
    </message>
    <message>
        <source>%1 online</source>
        <translation>%1 块在线</translation>
    </message>
    <message>
        <source>%1 on battery</source>
        <translation>%1 块电池供电</translation>
    </message>
    <message>
        <source>%1 battery low</source>
        <translation>%1 块电池电量低</translation>
    </message>
    <message>
        <source>%1 offline</source>
        <translation>%1 块离线</translation>
    </message>
    <message>
        <source>%1 waiting</source>
        <translation>%1 块等待报告</translation>
    </message>
    <message numerus="yes">
        <source>%n card(s): %1</source>
        <translation>
            <numerusform>%n 块卡：%1</numerusform>
        </translation>
    </message>
    <message>
        <source>, </source>
        <translation>，</translation>
    </message>
    <message>
        <source> — shutdown due but refused</source>
        <translation> — 应当关机，但关机被拒绝</translation>
    </message>
    <message>
        <source> — not protected</source>
        <translation> — 未受保护</translation>
    </message>
</context>
</TS>
