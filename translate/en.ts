<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Built on</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The program is used for power off protection by SNMP.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AddHostDialog</name>
    <message>
        <source>Modify</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Invalid IPv4 address!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Searching for host...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Success</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host is online!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host is offline!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>unchanged</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Demo</name>
    <message>
        <source>Demo build: the system will not be shut down</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DesktopNotifier</name>
    <message>
        <source>Protection service not running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This machine is not protected until the protection service runs.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>UPS card offline: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The card at %1 does not answer; what its UPS does is unknown.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery low: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The UPS at %1 reports a low battery; its power may end soon.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mains failure: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The UPS at %1 runs on battery.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>UPS card answers again: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The card at %1 answers again; its UPS runs on mains power.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mains back: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The UPS at %1 runs on mains power again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Shutdown in %n minute(s)</source>
        <translation>
            <numerusform>Shutdown in %n minute</numerusform>
            <numerusform>Shutdown in %n minutes</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>This machine shuts down in %n minute(s) unless the power comes back.</source>
        <translation>
            <numerusform>This machine shuts down in %n minute unless the power comes back.</numerusform>
            <numerusform>This machine shuts down in %n minutes unless the power comes back.</numerusform>
        </translation>
    </message>
    <message>
        <source>Shutdown due but refused</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown canceled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The system shutdown is canceled; this machine stays on.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Protection service stopped</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This machine is not protected until the protection service runs again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Protection service back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This machine is protected again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ListWidgetItem</name>
    <message>
        <source>Authentication failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Offline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Normal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery low</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No transfer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>High line voltage</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On line</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On battery</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On bypass</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery status: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Input status: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output status: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery capacity: %1 %</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LogDialog</name>
    <message>
        <source>Information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Are you sure to remove all logs?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save event log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CSV file (*.csv)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>XLSX file(*.xlsx)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for operation completed...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export log %1 !</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>success</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>failed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 already exists.
Do you want to replace it?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reading the event log...</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LogWidget</name>
    <message>
        <source>Event log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start date:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>End date:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save as...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The protection service is not running: the event log cannot be read now. Start it with: sudo systemctl start vigilex</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The event log cannot be read: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>Date</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Event</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Object</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>System</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP Vigilex</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Language</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>English</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>中文</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear content</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP v1/v2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP v3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User name:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Authenticate:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MD5</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SHA</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Privacy:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>DES</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Query</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP port:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Community:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System shutdown is canceled</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System will be shutdown in %1 minute(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown application is invalid!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Start to executing shutdown application.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown application exit!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System shutdown impossible: no system bus (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System shutdown impossible: logind does not answer (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System shutdown not permitted: logind answers &quot;%1&quot;; this user needs the right to power off</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>System shutdown refused by logind: %1</source>
        <translation></translation>
    </message>
    <message>
        <source>The power trouble is over: the refused system shutdown is no longer due, the protection is armed again</source>
        <translation></translation>
    </message>
    <message>
        <source>Events cannot be stored at the moment; they are kept until storing works again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Storing events works again; the events kept meanwhile are stored</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The protection service has stopped; the lamps stay grey until it is back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The protection service is back</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The protection service refused the change: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for authorisation...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The change was refused: you are not authorised to change the UPS protection.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The change was refused: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown in %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SNMPInfo</name>
    <message>
        <source>&quot;%1&quot; is not an IPv4 address (four numbers from 0 to 255 with dots)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The SNMP port must be a number from 1 to 65535</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The community must not be empty</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The community must not be longer than %1 characters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown SNMP version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The user name must not be empty</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The user name must have at least %1 characters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The user name must not be longer than %1 characters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The password must be empty or have at least %1 characters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The password must not be longer than %1 characters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown authentication type</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown privacy type</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SettingsDialog</name>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>General</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown Condition</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP port</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP version</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host connection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Modify</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warning messages</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Popup warning message</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Run application before shutdown computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Maximum execution time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>minute(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AC failed shutdown time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery low shutdown time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AC failed shutdown capacity:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse shutdown application</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Are you sure to remove host %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown application is not exist!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 must be a number from %2 to %3, or 0 to switch it off.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 must be a number from %2 to %3.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The shutdown application would be refused at a power failure: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Test</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On battery now below %1 %: %2. Saving this capacity starts the shutdown at once.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AC failed shutdown time is 0: the AC-failed condition will be off.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery low shutdown time is 0: the battery-low condition will be off.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The shutdown application ended with exit code %1 after %2 s.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The shutdown application was stopped by signal %1 after %2 s.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The change was refused: the shutdown application is an administrator&apos;s choice, and changing or testing it needs an administrator&apos;s authorisation.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for authorisation, then for the test run...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The test was refused: running the shutdown application in the service needs an administrator&apos;s authorisation.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The test was refused: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The protection service is not running: nothing can be changed now. Start it with: sudo systemctl start vigilex</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reading the settings...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings cannot be read: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SingleInstance</name>
    <message>
        <source>Information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP Vigilex already protects this machine in the session of user %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sure</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StatusLine</name>
    <message>
        <source>battery low</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>mains failure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not protected: the protection service is not running. Start it with: sudo systemctl start vigilex</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> — shutdown in %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown due but refused: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On battery: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown in %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not protected: no UPS card is listed; add one under Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not protected: no card answers (offline: %1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Protected by %n card(s); offline: %1</source>
        <translation>
            <numerusform>Protected by %n card; offline: %1</numerusform>
            <numerusform>Protected by %n cards; offline: %1</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Waiting for the first report of %n card(s)</source>
        <translation>
            <numerusform>Waiting for the first report of %n card</numerusform>
            <numerusform>Waiting for the first report of %n cards</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Protected — %n card(s) online</source>
        <translation>
            <numerusform>Protected — %n card online</numerusform>
            <numerusform>Protected — %n cards online</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>, %n waiting for a first report</source>
        <translation>
            <numerusform>, %n waiting for a first report</numerusform>
            <numerusform>, %n waiting for a first report</numerusform>
        </translation>
    </message>
</context>
</TS>
