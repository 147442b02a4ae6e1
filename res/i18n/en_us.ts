<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About Panoptra Pro</source>
        <translation>About Panoptra Pro</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>
Copyright the Panoptra Pro developers</source>
        <translation>
Copyright the Panoptra Pro developers</translation>
    </message>
    <message>
        <source>Check Update</source>
        <translation>Check Update</translation>
    </message>
    <message>
        <source>Panoptra Pro receives and sends video over the local network. The names of the network-video technologies it uses are trademarks of their owners.</source>
        <translation>Panoptra Pro receives and sends video over the local network. The names of the network-video technologies it uses are trademarks of their owners.</translation>
    </message>
    <message>
        <source>https://panoptra.example.com/pro/update</source>
        <translation>https://panoptra.example.com/pro/update</translation>
    </message>
</context>
<context>
    <name>MyTitleBar</name>
    <message>
        <source>About Panoptra Pro</source>
        <translation>About Panoptra Pro</translation>
    </message>
    <message>
        <source>switch to Chinese</source>
        <translation>switch to Chinese</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>SubTitleBar</name>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>Widget</name>
    <message>
        <source>Http Port: </source>
        <translation>Http Port: </translation>
    </message>
    <message>
        <source>Web Sockets Port: </source>
        <translation>Web Sockets Port: </translation>
    </message>
    <message>
        <source>Version Info: </source>
        <translation>Version Info: </translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Http Port must be a whole number from 1 to 65535.</source>
        <translation>Http Port must be a whole number from 1 to 65535.</translation>
    </message>
    <message>
        <source>Web Sockets Port must be a whole number from 1 to 65535.</source>
        <translation>Web Sockets Port must be a whole number from 1 to 65535.</translation>
    </message>
    <message>
        <source>Http Port and Web Sockets Port must differ.</source>
        <translation>Http Port and Web Sockets Port must differ.</translation>
    </message>
    <message>
        <source>The settings could not be written.</source>
        <translation>The settings could not be written.</translation>
    </message>
    <message>
        <source>Save Sucessful</source>
        <translation>Save Sucessful</translation>
    </message>
    <message>
        <source>Save Failed</source>
        <translation>Save Failed</translation>
    </message>
    <message>
        <source>save</source>
        <translation>save</translation>
    </message>
    <message>
        <source>Open Directory</source>
        <translation>Open Directory</translation>
    </message>
    <message>
        <source>Export logs</source>
        <translation>Export logs</translation>
    </message>
    <message>
        <source>Failed to export the log file. Please check whether the target folder exists. If it exists, please check the permissions of the target folder.</source>
        <translation>Failed to export the log file. Please check whether the target folder exists. If it exists, please check the permissions of the target folder.</translation>
    </message>
    <message>
        <source>Widget</source>
        <translation>Widget</translation>
    </message>
    <message>
        <source>Scan the QR code or copy the link to share</source>
        <translation>Scan the QR code or copy the link to share</translation>
    </message>
    <message>
        <source>copy Link</source>
        <translation>copy Link</translation>
    </message>
    <message>
        <source>Run at Startup</source>
        <translation>Run at Startup</translation>
    </message>
    <message>
        <source>NDI Host Name</source>
        <translation>NDI Host Name</translation>
    </message>
    <message>
        <source>Http Port</source>
        <translation>Http Port</translation>
    </message>
    <message>
        <source>Web Sockets Port</source>
        <translation>Web Sockets Port</translation>
    </message>
    <message>
        <source>Note: Restart is required for changes to take effect.</source>
        <translation>Note: Restart is required for changes to take effect.</translation>
    </message>
    <message>
        <source>Restart Now</source>
        <translation>Restart Now</translation>
    </message>
</context>
</TS>
