<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About Panoptra Pro</source>
        <translation>关于 Panoptra Pro</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>版本：</translation>
    </message>
    <message>
        <source>
Copyright the Panoptra Pro developers</source>
        <translation>
版权所有 Panoptra Pro 开发者</translation>
    </message>
    <message>
        <source>Check Update</source>
        <translation>检查更新</translation>
    </message>
    <message>
        <source>Panoptra Pro receives and sends video over the local network. The names of the network-video technologies it uses are trademarks of their owners.</source>
        <translation>Panoptra Pro 通过局域网接收和发送视频。其所用网络视频技术的名称是其所有者的商标。</translation>
    </message>
    <message>
        <source>https://panoptra.example.com/pro/update</source>
        <translation>https://panoptra.example.com/pro/update?lang=zh</translation>
    </message>
</context>
<context>
    <name>MyTitleBar</name>
    <message>
        <source>About Panoptra Pro</source>
        <translation>关于 Panoptra Pro</translation>
    </message>
    <message>
        <source>switch to Chinese</source>
        <translation>切换语言</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>SubTitleBar</name>
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>Widget</name>
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
    <message>
        <source>Settings</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Http Port must be a whole number from 1 to 65535.</source>
        <translation>HTTP 端口必须是 1 到 65535 之间的整数。</translation>
    </message>
    <message>
        <source>Web Sockets Port must be a whole number from 1 to 65535.</source>
        <translation>WebSocket 端口必须是 1 到 65535 之间的整数。</translation>
    </message>
    <message>
        <source>Http Port and Web Sockets Port must differ.</source>
        <translation>HTTP 端口与 WebSocket 端口不能相同。</translation>
    </message>
    <message>
        <source>The settings could not be written.</source>
        <translation>无法写入设置。</translation>
    </message>
    <message>
        <source>Save Sucessful</source>
        <translation>保存成功</translation>
    </message>
    <message>
        <source>Save Failed</source>
        <translation>保存失败</translation>
    </message>
    <message>
        <source>save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Open Directory</source>
        <translation>选择文件夹</translation>
    </message>
    <message>
        <source>Export logs</source>
        <translation>导出日志</translation>
    </message>
    <message>
        <source>Failed to export the log file. Please check whether the target folder exists. If it exists, please check the permissions of the target folder.</source>
        <translation>导出日志文件失败。请检查目标文件夹是否存在；如果存在，请检查目标文件夹的权限。</translation>
    </message>
    <message>
        <source>Widget</source>
        <translation>主窗口</translation>
    </message>
    <message>
        <source>Scan the QR code or copy the link to share</source>
        <translation>扫描二维码或复制链接进行分享</translation>
    </message>
    <message>
        <source>copy Link</source>
        <translation>复制链接</translation>
    </message>
    <message>
        <source>Run at Startup</source>
        <translation>开机启动</translation>
    </message>
    <message>
        <source>NDI Host Name</source>
        <translation>NDI 主机名</translation>
    </message>
    <message>
        <source>Http Port</source>
        <translation>HTTP 端口</translation>
    </message>
    <message>
        <source>Web Sockets Port</source>
        <translation>WebSocket 端口</translation>
    </message>
    <message>
        <source>Note: Restart is required for changes to take effect.</source>
        <translation>注意：修改需要重启后才能生效。</translation>
    </message>
    <message>
        <source>Restart Now</source>
        <translation>立即重启</translation>
    </message>
</context>
</TS>
