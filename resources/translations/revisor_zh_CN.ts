<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>WordHelper</name>
    <message>
        <source>Mark proofreading errors</source>
        <translation>标记校对错误</translation>
    </message>
    <message>
        <source>Remove proofreading marks</source>
        <translation>清除校对标记</translation>
    </message>
    <message>
        <source>Apply suggestion</source>
        <translation>采用修改建议</translation>
    </message>
    <message>
        <source>Ignore proofreading error</source>
        <translation>忽略校对错误</translation>
    </message>
</context>
</TS>
