<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_TW">
<context>
    <name>quillet::frmMain</name>
    <message>
        <source>Acknowledge</source>
        <translation>確認</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>時間</translation>
    </message>
    <message>
        <source>Site</source>
        <translation>站點</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>內容</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation>%1（%2）</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1：%2</translation>
    </message>
    <message>
        <source>Alarm: %1</source>
        <translation>警報：%1</translation>
    </message>
    <message>
        <source>Not acknowledged: %1</source>
        <translation>未確認：%1 則</translation>
    </message>
    <message>
        <source>Newest: %1</source>
        <translation>最新：%1</translation>
    </message>
    <message>
        <source>Alarms are not being read. File &gt; Online reads them again.</source>
        <translation>目前未讀取警報。選擇「File &gt; Online」即重新讀取。</translation>
    </message>
    <message>
        <source>Online</source>
        <translation>連線中</translation>
    </message>
    <message>
        <source>Offline</source>
        <translation>離線</translation>
    </message>
    <message>
        <source>Recent alarms (%1 not acknowledged)</source>
        <translation>最近的警報（%1 則未確認）</translation>
    </message>
    <message>
        <source>Recent alarms</source>
        <translation>最近的警報</translation>
    </message>
    <message>
        <source>No alarm since the logger started.</source>
        <translation>本程式啟動以來尚無警報。</translation>
    </message>
</context>
</TS>
