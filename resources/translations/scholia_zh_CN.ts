<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>ContextShow</name>
    <message>
        <source>Add To Dict</source>
        <translation>添加到词库</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Hide</source>
        <translation>隐藏</translation>
    </message>
    <message>
        <source>Ignore</source>
        <translation>忽略</translation>
    </message>
    <message>
        <source>Ignore All</source>
        <translation>全部忽略</translation>
    </message>
    <message>
        <source>Ignore Once</source>
        <translation>忽略一次</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>下一个</translation>
    </message>
    <message>
        <source>Prev</source>
        <translation>上一个</translation>
    </message>
    <message>
        <source>Report Error</source>
        <translation>报告错误</translation>
    </message>
    <message>
        <source>Spell Error</source>
        <translation>错误</translation>
    </message>
</context>
<context>
    <name>DialogAbout</name>
    <message>
        <source>&amp;OK</source>
        <translation>确定(&amp;O)</translation>
    </message>
    <message>
        <source>About Quillet</source>
        <translation>关于 Quillet</translation>
    </message>
    <message>
        <source>Copyright &amp;copy; 2026 the Quillet developers. Proofreading service: &lt;a href="%1"&gt;%1&lt;/a&gt;</source>
        <translation>版权所有 &amp;copy; 2026 Quillet 开发者。校对服务：&lt;a href="%1"&gt;%1&lt;/a&gt;</translation>
    </message>
    <message>
        <source>Quillet</source>
        <translation>Quillet</translation>
    </message>
</context>
<context>
    <name>DialogClient</name>
    <message>
        <source> &lt;span style='color:red;'&gt;( %1 Errors ) &lt;/span&gt;</source>
        <translation> &lt;span style='color:red;'&gt;( %1 个错误 ) &lt;/span&gt;</translation>
    </message>
    <message>
        <source>&lt;span style='color:red;'&gt;Found %1 Errors&lt;/span&gt;</source>
        <translation>&lt;span style='color:red;'&gt;找到 %1 个错误&lt;/span&gt;</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Can't Get All Page Text</source>
        <translation>没有取到所有页文字！Quillet不支持绿色版的 WORD 或 WPS。</translation>
    </message>
    <message>
        <source>Can't Get Current Page Text</source>
        <translation>没有取到当前页文字！Quillet不支持绿色版的 WORD 或 WPS。</translation>
    </message>
    <message>
        <source>Can't attach WPS or Word!</source>
        <translation>没有探测到 WPS 或 Word 文档！</translation>
    </message>
    <message>
        <source>Can't attach LibreOffice Writer!</source>
        <translation>没有探测到 LibreOffice Writer 文档！</translation>
    </message>
    <message>
        <source>Can't Get Current Page Text from LibreOffice Writer</source>
        <translation>没有取到当前页文字！请确认文档已在 LibreOffice Writer 中打开。</translation>
    </message>
    <message>
        <source>Can't Get All Page Text from LibreOffice Writer</source>
        <translation>没有取到所有页文字！请确认文档已在 LibreOffice Writer 中打开。</translation>
    </message>
    <message>
        <source>Check</source>
        <translation>校对</translation>
    </message>
    <message>
        <source>Check Current Page</source>
        <translation>校对本页</translation>
    </message>
    <message>
        <source>Check Next %1 Pages</source>
        <translation>校对后%1页</translation>
    </message>
    <message>
        <source>Check Skip</source>
        <translation>检查搭配错误</translation>
    </message>
    <message>
        <source>CheckType</source>
        <translation>校对类型</translation>
    </message>
    <message>
        <source>Contact</source>
        <translation>联系我们</translation>
    </message>
    <message>
        <source>Errors</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>退出登录</translation>
    </message>
    <message>
        <source>Logout succeed</source>
        <translation>退出登录成功</translation>
    </message>
    <message>
        <source>Min Gan Ci</source>
        <translation>敏感词</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>下一个</translation>
    </message>
    <message>
        <source>Previous</source>
        <translation>上一个</translation>
    </message>
    <message>
        <source>Remove All</source>
        <translation>清除结果</translation>
    </message>
    <message>
        <source>Report Error</source>
        <translation>报告错误</translation>
    </message>
    <message>
        <source>Revisor</source>
        <translation>Quillet-校对助手</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Show Error Tip</source>
        <translation>显示错误提示窗口</translation>
    </message>
    <message>
        <source>Check as you type</source>
        <translation>边写边查</translation>
    </message>
    <message>
        <source>Checks each paragraph you edit shortly after you stop typing</source>
        <translation>停止输入片刻后，检查您编辑过的段落</translation>
    </message>
    <message>
        <source>Stays on top</source>
        <translation>窗口最前显示</translation>
    </message>
    <message>
        <source>Tong Yin</source>
        <translation>同音字错误</translation>
    </message>
    <message>
        <source>Tools</source>
        <translation>工具</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>检查更新</translation>
    </message>
    <message>
        <source>User</source>
        <translation>用户</translation>
    </message>
    <message>
        <source>Web</source>
        <translation>Quillet网站</translation>
    </message>
    <message>
        <source>Xing Jin</source>
        <translation>形近字错误</translation>
    </message>
</context>
<context>
    <name>DialogContact</name>
    <message>
        <source>Contact</source>
        <translation>联系我们</translation>
    </message>
    <message>
        <source>Email:</source>
        <translation>邮箱、QQ或者微信（可选）</translation>
    </message>
    <message>
        <source>Please input message.</source>
        <translation>请输入留言内容。</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>suggestions or questions:</source>
        <translation>建议或问题：</translation>
    </message>
</context>
<context>
    <name>DialogLogin</name>
    <message>
        <source>Login</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>密码：</translation>
    </message>
    <message>
        <source>Register ...</source>
        <translation>注册 ...</translation>
    </message>
    <message>
        <source>User Name:</source>
        <translation>用户名：</translation>
    </message>
    <message>
        <source>copyright msg.</source>
        <translation>本插件需要发送要校对的文字到服务器进行校对。这些文字我们不会存储，更不会交给第三方。</translation>
    </message>
</context>
<context>
    <name>DialogProgress</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Checking ...</source>
        <translation>正在校对 ...</translation>
    </message>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
</context>
<context>
    <name>DialogReportError</name>
    <message>
        <source>Error</source>
        <translation>识别错误</translation>
    </message>
    <message>
        <source>Error:</source>
        <translation>错误：</translation>
    </message>
    <message>
        <source>Note:</source>
        <translation>备注：</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>发送</translation>
    </message>
    <message>
        <source>Sentence:</source>
        <translation>原始句子：</translation>
    </message>
</context>
<context>
    <name>DialogShow</name>
    <message>
        <source>Form</source>
        <translation>窗体</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
</context>
<context>
    <name>ErrorsList</name>
    <message>
        <source>ERROR_TYPE_DAN_ZI</source>
        <translation>不应出现单字</translation>
    </message>
    <message>
        <source>ERROR_TYPE_MIN_GAN_CI</source>
        <translation>敏感词</translation>
    </message>
    <message>
        <source>ERROR_TYPE_SKIP</source>
        <translation>搭配</translation>
    </message>
    <message>
        <source>ERROR_TYPE_TONG_YIN</source>
        <translation>同音字</translation>
    </message>
    <message>
        <source>ERROR_TYPE_UNKOWN</source>
        <translation>未知</translation>
    </message>
    <message>
        <source>ERROR_TYPE_XING_JIN</source>
        <translation>形近字</translation>
    </message>
    <message>
        <source>ERROR_TYPE_YIN_JIN</source>
        <translation>音近字</translation>
    </message>
    <message>
        <source>error</source>
        <translation>错误</translation>
    </message>
</context>
<context>
    <name>ErrorsListGroup</name>
    <message>
        <source>Dict</source>
        <translation>词典</translation>
    </message>
    <message>
        <source>Find in Dict</source>
        <translation>词典收录查询</translation>
    </message>
</context>
<context>
    <name>ErrorsListItem</name>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
    <message>
        <source>Dict</source>
        <translation>词典</translation>
    </message>
    <message>
        <source>Find in Dict</source>
        <translation>在词典中查找</translation>
    </message>
</context>
<context>
    <name>Revisor</name>
    <message>
        <source>Add to dict succeed!</source>
        <translation>已成功添加到用户词库！</translation>
    </message>
    <message>
        <source>Can't open </source>
        <translation>无法打开 </translation>
    </message>
    <message>
        <source>Connect Server Error!</source>
        <translation>连接服务器失败！</translation>
    </message>
    <message>
        <source>JSON Data Error!</source>
        <translation>JSON 数据错误！</translation>
    </message>
    <message>
        <source>Max %d words!</source>
        <translation>一次最多校对 %d 个字！超出此范围的字将不校对。</translation>
    </message>
    <message>
        <source>Parse JSON Data Error!</source>
        <translation>解析 JSON 数据失败，请升级到最新版本，或联系我们。</translation>
    </message>
    <message>
        <source>The service named an unsafe checker address; no text was sent:</source>
        <translation>服务器给出的校对地址不安全，未发送任何文字：</translation>
    </message>
    <message>
        <source>Thanks for the feedback!</source>
        <translation>感谢您的反馈，我们会尽快处理。</translation>
    </message>
    <message>
        <source>checking, please wait.</source>
        <translation>正在校对，请稍候 ...</translation>
    </message>
    <message>
        <source>quillet</source>
        <translation>Quillet-校对助手</translation>
    </message>
</context>
</TS>
