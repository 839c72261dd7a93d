<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>TypingCheck</name>
    <message>
        <source>Checking as you type paused: the service asks for a new login. Check a page from the tool window to log in again.</source>
        <translation>边写边查已暂停：服务要求重新登录。请在工具窗口中检查一次当前页以重新登录。</translation>
    </message>
    <message>
        <source>Checking as you type paused: %1 It resumes by itself.</source>
        <translation>边写边查已暂停：%1 稍后会自动恢复。</translation>
    </message>
</context>
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
    <message>
        <source>The office cannot show the marks: its Quillet extension is missing. Run scripts/run.sh once (it installs quillet-marks.oxt), then restart the office.</source>
        <translation>办公软件无法显示标记：未安装 Quillet 扩展。请运行一次 scripts/run.sh（它会安装 quillet-marks.oxt），然后重新启动办公软件。</translation>
    </message>
    <message>
        <source>The office shows no marks while automatic spell checking is off: switch on Tools &gt; Automatic Spell Checking.</source>
        <translation>自动拼写检查已关闭，办公软件不显示标记：请打开“工具 &gt; 自动拼写检查”。</translation>
    </message>
    <message>
        <source>The office shows no marks while grammar checking is off: switch on &quot;Check grammar while typing&quot; in Tools &gt; Options &gt; Language Settings &gt; Writing Aids.</source>
        <translation>输入时检查语法已关闭，办公软件不显示标记：请在“工具 &gt; 选项 &gt; 语言设置 &gt; 写作辅助”中打开“输入时检查语法”。</translation>
    </message>
</context>
</TS>
