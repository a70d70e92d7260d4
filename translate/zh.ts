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
        <source>Export log %1 !</source>
        <translation>导出日志%1！</translation>
    </message>
    <message>
        <source>success</source>
        <translation>成功</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>失败</translation>
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
</context>
<context>
    <name>LogWidget</name>
    <message>
        <source>Event log</source>
        <translation>事件日志</translation>
    </message>
    <message>
        <source>Start date:</source>
        <translation>开始日期：</translation>
    </message>
    <message>
        <source>End date:</source>
        <translation>结束日期：</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>读取</translation>
    </message>
    <message>
        <source>Save as...</source>
        <translation>另存为...</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清除</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>The protection service is not running: the event log cannot be read now. Start it with: sudo systemctl start vigilex</source>
        <translation>保护服务未运行：现在无法读取事件日志。启动命令：sudo systemctl start vigilex</translation>
    </message>
    <message>
        <source>The event log cannot be read: %1</source>
        <translation>无法读取事件日志：%1</translation>
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
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>中文</source>
        <translation>中文</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Log</source>
        <translation>日志</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>显示</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>退出</translation>
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
        <source>Clear content</source>
        <translation>清空内容</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>SNMP v1/v2</source>
        <translation>SNMP v1/v2</translation>
    </message>
    <message>
        <source>SNMP v3</source>
        <translation>SNMP v3</translation>
    </message>
    <message>
        <source>User name:</source>
        <translation>用户名：</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>密码：</translation>
    </message>
    <message>
        <source>Authenticate:</source>
        <translation>认证：</translation>
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
        <source>Privacy:</source>
        <translation>加密：</translation>
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
        <source>Host:</source>
        <translation>主机：</translation>
    </message>
    <message>
        <source>Query</source>
        <translation>查询</translation>
    </message>
    <message>
        <source>SNMP port:</source>
        <translation>SNMP 端口：</translation>
    </message>
    <message>
        <source>Community:</source>
        <translation>团体名：</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
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
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>General</source>
        <translation>常规</translation>
    </message>
    <message>
        <source>Shutdown Condition</source>
        <translation>关机条件</translation>
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
        <source>Host connection</source>
        <translation>主机连接</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Modify</source>
        <translation>修改</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>Warning messages</source>
        <translation>警告消息</translation>
    </message>
    <message>
        <source>Popup warning message</source>
        <translation>弹出警告消息</translation>
    </message>
    <message>
        <source>Run application before shutdown computer</source>
        <translation>关机前运行应用程序</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>浏览...</translation>
    </message>
    <message>
        <source>Maximum execution time:</source>
        <translation>最长执行时间：</translation>
    </message>
    <message>
        <source>minute(s)</source>
        <translation>分钟</translation>
    </message>
    <message>
        <source>AC failed shutdown time:</source>
        <translation>市电故障关机时间：</translation>
    </message>
    <message>
        <source>Battery low shutdown time:</source>
        <translation>电池低电关机时间：</translation>
    </message>
    <message>
        <source>AC failed shutdown capacity:</source>
        <translation>市电故障关机容量：</translation>
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
        <source>Test</source>
        <translation>测试</translation>
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
</context>
</TS>
