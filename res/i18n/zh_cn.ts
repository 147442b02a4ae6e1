<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>Widget</name>
    <message>
        <source>Widget</source>
        <translation>主窗口</translation>
    </message>
    <message>
        <source>Scan the QR code or copy the link to share</source>
        <translation>扫描二维码或复制链接进行分享</translation>
    </message>
    <message>
        <source>Http Port: </source>
        <translation>Http 端口：</translation>
    </message>
    <message>
        <source>Web Sockets Port: </source>
        <translation>Web Sockets 端口：</translation>
    </message>
    <message>
        <source>Version Info: </source>
        <translation>版本信息：</translation>
    </message>
</context>
</TS>
