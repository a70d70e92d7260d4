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
    <message>
        <source>The stored secrets are not shown here: type them to query the card with them.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No query: the SNMP port must be a number from 1 to 65535.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No query: choose the SNMP version first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Asking the card...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>model unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>on line</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>on battery</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>on bypass</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>output status %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>battery low</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>capacity %1 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Answers: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>battery status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>input status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>output status</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>battery capacity</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The card answers (%1) but has no such object: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No answer: wrong community, wrong port or the card is unreachable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No answer: wrong password or privacy type, wrong port or the card is unreachable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No answer: wrong port or the card is unreachable</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Authentication failure: the card does not take this user name as pass phrase with %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Decryption failure: the card does not take this password with %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unknown user name: the card has no user %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>authentication and privacy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>authentication without privacy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no authentication</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unsupported security level: the card does not serve user %1 with %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No query: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Asking the server...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No query: the port must be a number from 1 to 65535.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>forced shutdown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Answers: %1 (status %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connection refused: no UPS server listens on port %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The server cannot be reached: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No answer: the server does not answer within %1 seconds</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>UNKNOWN-UPS: the server has no UPS named %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ACCESS-DENIED: the server does not let this computer read the UPS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>DATA-STALE: the server has no fresh data from its UPS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The server answers with an error: %1</source>
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
    <name>DetailsPanel</name>
    <message>
        <source>other</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>none (output off)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>normal</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>bypass</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>battery</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>booster (low input raised)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>reducer (high input lowered)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>unknown (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>unknown</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>low</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>depleted</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 Hz</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 V</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 °C</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No details: the protection service is not running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select a card to see what it reports</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: no details reported yet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Model:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output source:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery status:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Capacity:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Estimated runtime:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Load:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Input voltage:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Output voltage:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Input frequency:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery temperature:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last answer:</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>HistoryChart</name>
    <message>
        <source>Capacity</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Load</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Power trouble</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Other events</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No samples in the last 24 hours</source>
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
    <message>
        <source>The event log was exported to %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The event log could not be exported to %1: %2</source>
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
        <source>The protection service is not running: the event log cannot be read now. Start it with: sudo systemctl start vigilex</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The event log cannot be read: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Start date:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;End date:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Read</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save &amp;as...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;OK</source>
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
        <source>Log</source>
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
        <source>Add</source>
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
        <source>DES</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AES</source>
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
    <message>
        <source>Select a card to see its last 24 hours</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No history: the protection service is not running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reading the last 24 hours of %1 ...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The history of %1 could not be read: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Event %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Settings...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Language</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;English</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>中文(&amp;C)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;About...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mi&amp;nimize</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Show</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit SNMP Vigilex; this computer is no longer protected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Close this window; the protection service goes on protecting this computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quitting stops protecting this computer. Quit?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A shutdown of this computer is due at %1 (in %2); quitting cancels it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit SNMP Vigilex</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Clear content</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP v&amp;1/v2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP v&amp;3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pass&amp;word:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Authenticate:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>P&amp;rivacy:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Host:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Query</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>SNMP p&amp;ort:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Community:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Sure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ca&amp;ncel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>N&amp;etwork UPS server</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>P&amp;ort:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Forced shutdown raised on %1; waiting up to %2 s for %3 follower(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All followers have logged out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 follower(s) still logged in after %2 s: going on</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Forced shutdown asked for %1 by %2: shutting down now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>UPS na&amp;me:</source>
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
    <message>
        <source>The UPS name must not be empty</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The UPS name may hold only letters A to Z, digits, &apos;-&apos;, &apos;_&apos; and &apos;.&apos;, at most %1 of them</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The user must have no blanks and at most %1 characters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Give both the user and the password, or neither</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The port must be a number from 1 to 65535</source>
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
        <source>Warning messages</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>minute(s)</source>
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
    <message>
        <source>&amp;General</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Shutdown Con&amp;dition</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Host c&amp;onnection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Modify</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Popup warning message</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Des&amp;ktop notifications</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>R&amp;un application before shutdown computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Browse...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Test</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Maximum e&amp;xecution time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AC &amp;failed shutdown time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Battery &amp;low shutdown time:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>AC failed shutdown &amp;capacity:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Sure</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ca&amp;ncel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Network UPS ser&amp;ver</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>S&amp;erve the cards to other computers (network UPS protocol)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;IP address:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>TCP port (usuall&amp;y 3493):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;How long to wait for followers:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>second(s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Users (Delete removes the selected one)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Role</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>secondary (follows)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>primary (may force a shutdown)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ne&amp;w user</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>(unchanged)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The server&apos;s address must be an IP address.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every user needs a name and a password.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The users cannot be saved: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The change was refused: the network UPS server opens a port and grants access, so changing it needs an administrator&apos;s authorisation.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Network UPS server</source>
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
    <message>
        <source>Not protected: the protection service is not running</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not protected: no UPS card is listed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 online</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 on battery</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 battery low</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 offline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 waiting</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n card(s): %1</source>
        <translation>
            <numerusform>%n card: %1</numerusform>
            <numerusform>%n cards: %1</numerusform>
        </translation>
    </message>
    <message>
        <source>, </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> — shutdown due but refused</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> — not protected</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
