<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Widget</name>
    <message>
        <source>Widget</source>
        <translation>Widget</translation>
    </message>
    <message>
        <source>Scan the QR code or copy the link to share</source>
        <translation>Scan the QR code or copy the link to share</translation>
    </message>
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
</context>
</TS>
