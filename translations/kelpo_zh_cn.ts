<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>CNoteMgt</name>
    <message>
        <source>If an account has this name or e-mail address, a mail with a reset code is on its way to its address.</source>
        <translation>如果有帐户使用此名称或电子邮件地址，一封带有重置码的邮件正在发往该帐户的地址。</translation>
    </message>
    <message>
        <source>Search is ready: %1 notes prepared.</source>
        <translation>搜索已就绪：已整理 %1 条笔记。</translation>
    </message>
    <message>
        <source>Preparing search: %1 of %2 notes…</source>
        <translation>正在准备搜索：%1 / %2 条笔记…</translation>
    </message>
    <message>
        <source>The mail about modify password is sent to '%1'.</source>
        <translation>修改密码的邮件发送至'%1'。</translation>
    </message>
    <message>
        <source>Notes cannot be saved: %1 cannot be opened (%2).</source>
        <translation>无法保存笔记：无法打开 %1（%2）。</translation>
    </message>
    <message>
        <source>The note could not be removed: %1</source>
        <translation>无法删除笔记：%1</translation>
    </message>
    <message>
        <source>The note could not be saved: %1</source>
        <translation>无法保存笔记：%1</translation>
    </message>
    <message>
        <source>The note service did not confirm the login.</source>
        <translation>笔记服务没有确认登录。</translation>
    </message>
    <message>
        <source>Notes cannot be read or saved: %1</source>
        <translation>无法读取或保存笔记：%1</translation>
    </message>
    <message>
        <source>[Picture]</source>
        <translation>[图片]</translation>
    </message>
    <message>
        <source>This note is larger than the note service takes (%1 MB): it is kept on this computer but cannot be synchronised.</source>
        <translation>这条笔记超过了笔记服务可接受的大小（%1 MB）：它保存在本机，但无法同步。</translation>
    </message>
</context>
<context>
    <name>CThreadPost</name>
    <message>
        <source>The note service did not answer within %1 s.</source>
        <translation>笔记服务在 %1 秒内没有响应。</translation>
    </message>
    <message>
        <source>The note service's answer is larger than %1.</source>
        <translation>笔记服务的响应大于 %1。</translation>
    </message>
    <message>
        <source>The note service sent an empty answer.</source>
        <translation>笔记服务返回了空响应。</translation>
    </message>
    <message>
        <source>The note service's answer is not JSON.</source>
        <translation>笔记服务的响应不是 JSON。</translation>
    </message>
    <message>
        <source>The note service did not finish its answer within %1 s.</source>
        <translation>笔记服务未在 %1 秒内完成应答。</translation>
    </message>
    <message>
        <source>The note service answered with a redirect (HTTP %1) to &apos;%2&apos;: check the service address.</source>
        <translation>笔记服务以重定向（HTTP %1）应答，指向“%2”：请检查服务地址。</translation>
    </message>
</context>
<context>
    <name>ConfirmFrame</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>EditDateItem</name>
    <message>
        <source>Day</source>
        <translation>日</translation>
    </message>
    <message>
        <source>Month</source>
        <translation>月</translation>
    </message>
    <message>
        <source>Year</source>
        <translation>年</translation>
    </message>
</context>
<context>
    <name>EditDateTimeView</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>完成</translation>
    </message>
</context>
<context>
    <name>EditSecondItem</name>
    <message>
        <source>Second</source>
        <translation>秒</translation>
    </message>
</context>
<context>
    <name>EditTimeItem</name>
    <message>
        <source>Second</source>
        <translation>秒</translation>
    </message>
    <message>
        <source>Hour</source>
        <translation>时</translation>
    </message>
    <message>
        <source>Minute</source>
        <translation>分</translation>
    </message>
</context>
<context>
    <name>MonthsView</name>
    <message>
        <source>Fri</source>
        <translation>五</translation>
    </message>
    <message>
        <source>Mon</source>
        <translation>一</translation>
    </message>
    <message>
        <source>Sat</source>
        <translation>六</translation>
    </message>
    <message>
        <source>Sun</source>
        <translation>日</translation>
    </message>
    <message>
        <source>Thu</source>
        <translation>四</translation>
    </message>
    <message>
        <source>Tue</source>
        <translation>二</translation>
    </message>
    <message>
        <source>Wed</source>
        <translation>三</translation>
    </message>
</context>
<context>
    <name>ViewAbout</name>
    <message>
        <source>Clear every local note, including notes not yet uploaded?</source>
        <translation>清除所有本地笔记（包括尚未上传的笔记）？</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Greyfen Software</source>
        <translation>灰芬软件</translation>
    </message>
</context>
<context>
    <name>ViewForgotPwd</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>E-mail</source>
        <translation>电子邮箱</translation>
    </message>
    <message>
        <source>Forgot password</source>
        <translation>忘记密码</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>User Name</source>
        <translation>用户名</translation>
    </message>
    <message>
        <source>User name or e-mail cannot be empty.</source>
        <translation>用户名或邮箱不能为空。</translation>
    </message>
    <message>
        <source>Asking the note service to send the reset mail…</source>
        <translation>正在请求笔记服务发送重置邮件…</translation>
    </message>
    <message>
        <source>Both are needed: the mail goes to the address of that account.</source>
        <translation>两项都需要填写：邮件将发送到该账户的邮箱。</translation>
    </message>
</context>
<context>
    <name>ViewLogin</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>User Name</source>
        <translation>用户名</translation>
    </message>
    <message>
        <source>Auto Login</source>
        <translation>自动登录</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>Register</source>
        <translation>注册</translation>
    </message>
    <message>
        <source>Enter your user name and your password.</source>
        <translation>请输入用户名和密码。</translation>
    </message>
    <message>
        <source>Forgot password</source>
        <translation>忘记密码</translation>
    </message>
</context>
<context>
    <name>ViewNote</name>
    <message>
        <source>Backup, export and import</source>
        <translation>备份、导出和导入</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>注销</translation>
    </message>
    <message>
        <source>Today</source>
        <translation>今天</translation>
    </message>
    <message>
        <source>Your notes belong to %1 — log in to see them.</source>
        <translation>你的笔记属于 %1 — 登录后即可查看。</translation>
    </message>
    <message>
        <source>Notes on this computer belong to %1 — log in to see them.</source>
        <translation>本机的笔记属于 %1 — 登录后即可查看。</translation>
    </message>
    <message>
        <source>Years</source>
        <translation>年份</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>菜单</translation>
    </message>
    <message>
        <source>Show the list</source>
        <translation>显示列表</translation>
    </message>
    <message>
        <source>Show the calendar</source>
        <translation>显示日历</translation>
    </message>
    <message>
        <source>New note</source>
        <translation>新建笔记</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>搜索</translation>
    </message>
    <message>
        <source>Log in</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Only notes containing “%1”</source>
        <translation>仅显示包含“%1”的笔记</translation>
    </message>
    <message>
        <source>Show all</source>
        <translation>显示全部</translation>
    </message>
</context>
<context>
    <name>ViewNoteEdit</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>Attachment</source>
        <translation>附件</translation>
    </message>
    <message>
        <source>Do you sure to remove the note?</source>
        <translation>确认删除笔记？</translation>
    </message>
    <message>
        <source>Enter Date</source>
        <translation>输入日期</translation>
    </message>
    <message>
        <source>Enter Title</source>
        <translation>输入标题</translation>
    </message>
    <message>
        <source>Open a image</source>
        <translation>打开图片</translation>
    </message>
    <message>
        <source>Copy the text</source>
        <translation>复制文本</translation>
    </message>
    <message>
        <source>This note was deleted on another computer while it was open here. Finishing keeps it, with your text.</source>
        <translation>这条笔记在此处打开期间已在另一台电脑上被删除。点击“完成”会保留它和你的文字。</translation>
    </message>
    <message>
        <source>This note was changed on another computer while it was open here. Finishing keeps your text, and the other version is kept as a conflict copy.</source>
        <translation>这条笔记在此处打开期间已在另一台电脑上被修改。点击“完成”会保留你的文字，另一版本将保存为冲突副本。</translation>
    </message>
    <message>
        <source>Save again</source>
        <translation>再次保存</translation>
    </message>
    <message>
        <source>Pictures</source>
        <translation>图片</translation>
    </message>
    <message>
        <source>Throw away the changes to this note?</source>
        <translation>放弃对这篇笔记的修改？</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>放弃</translation>
    </message>
    <message>
        <source>Keep editing</source>
        <translation>继续编辑</translation>
    </message>
    <message>
        <source>Insert a picture</source>
        <translation>插入图片</translation>
    </message>
    <message>
        <source>Bold</source>
        <translation>粗体</translation>
    </message>
    <message>
        <source>Italic</source>
        <translation>斜体</translation>
    </message>
    <message>
        <source>List</source>
        <translation>列表</translation>
    </message>
</context>
<context>
    <name>ViewRegister</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>E-mail</source>
        <translation>电子邮箱</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>User Name</source>
        <translation>用户名</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>Confirm Password</source>
        <translation>确认密码</translation>
    </message>
    <message>
        <source>Confirm password is diff with password.</source>
        <translation>确认密码不一致。</translation>
    </message>
    <message>
        <source>E-mail is too short.</source>
        <translation>邮箱太短。</translation>
    </message>
    <message>
        <source>First is letter and length is between 6 and 32</source>
        <translation>第一个为字母且长度为6至32</translation>
    </message>
    <message>
        <source>Nick Name</source>
        <translation>妮称</translation>
    </message>
    <message>
        <source>Password is too short.</source>
        <translation>密码太短。</translation>
    </message>
    <message>
        <source>Recover the password by the e-mail</source>
        <translation>通知该邮箱恢复密码</translation>
    </message>
    <message>
        <source>Register User</source>
        <translation>注册用户</translation>
    </message>
    <message>
        <source>User name is too short.</source>
        <translation>用户名太短。</translation>
    </message>
</context>
<context>
    <name>CBackup</name>
    <message>
        <source>Cannot create the backup folder %1.</source>
        <translation>无法创建备份文件夹 %1。</translation>
    </message>
    <message>
        <source>Cannot write the backup %1.</source>
        <translation>无法写入备份 %1。</translation>
    </message>
    <message>
        <source>%1 is not a file.</source>
        <translation>%1 不是文件。</translation>
    </message>
    <message>
        <source>%1 is not a Kelpo diary.</source>
        <translation>%1 不是 Kelpo 日记。</translation>
    </message>
    <message>
        <source>%1 cannot be opened: %2</source>
        <translation>无法打开 %1：%2</translation>
    </message>
    <message>
        <source>%1 is damaged: %2</source>
        <translation>%1 已损坏：%2</translation>
    </message>
    <message>
        <source>Kelpo is running with this diary; quit it first.</source>
        <translation>Kelpo 正在使用此日记，请先退出。</translation>
    </message>
    <message>
        <source>Cannot copy %1 to %2.</source>
        <translation>无法将 %1 复制到 %2。</translation>
    </message>
    <message>
        <source>Cannot move %1 aside.</source>
        <translation>无法移开 %1。</translation>
    </message>
    <message>
        <source>Cannot put the backup in place of %1.</source>
        <translation>无法用备份替换 %1。</translation>
    </message>
    <message>
        <source>The backup was not restored: %1</source>
        <translation>备份未恢复：%1</translation>
    </message>
    <message>
        <source>The backup %1 is restored.</source>
        <translation>备份 %1 已恢复。</translation>
    </message>
    <message>
        <source>The backup %1 is restored; the diary as it was is kept as %2.</source>
        <translation>备份 %1 已恢复；原来的日记保存为 %2。</translation>
    </message>
    <message>
        <source>Cannot ask for the restore: %1</source>
        <translation>无法请求恢复：%1</translation>
    </message>
</context>
<context>
    <name>CExportWriter</name>
    <message>
        <source>The export was cancelled.</source>
        <translation>导出已取消。</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>无法写入 %1：%2</translation>
    </message>
    <message>
        <source>Cannot create the folder %1.</source>
        <translation>无法创建文件夹 %1。</translation>
    </message>
    <message>
        <source>Cannot write %1.</source>
        <translation>无法写入 %1。</translation>
    </message>
</context>
<context>
    <name>CExporter</name>
    <message>
        <source>Unknown export format "%1".</source>
        <translation>未知的导出格式“%1”。</translation>
    </message>
    <message>
        <source>A day is written as yyyy-MM-dd, for example 2026-12-10.</source>
        <translation>日期格式为 yyyy-MM-dd，例如 2026-12-10。</translation>
    </message>
    <message>
        <source>An export is running already.</source>
        <translation>已有导出正在进行。</translation>
    </message>
    <message>
        <source>Choose a folder to export to.</source>
        <translation>请选择导出的文件夹。</translation>
    </message>
    <message>
        <source>The first day of the range comes after the last.</source>
        <translation>范围的开始日期晚于结束日期。</translation>
    </message>
    <message>
        <source>Cannot write into the folder %1.</source>
        <translation>无法写入文件夹 %1。</translation>
    </message>
    <message>
        <source>The notes cannot be read: %1</source>
        <translation>无法读取笔记：%1</translation>
    </message>
</context>
<context>
    <name>CImporter</name>
    <message>
        <source>the note with its pictures is larger than %1 MB</source>
        <translation>笔记连同图片大于 %1 MB</translation>
    </message>
    <message>
        <source>the file is larger than 64 MB</source>
        <translation>文件大于 64 MB</translation>
    </message>
    <message>
        <source>the file cannot be read: %1</source>
        <translation>无法读取文件：%1</translation>
    </message>
    <message>
        <source>the file is not UTF-8 text</source>
        <translation>文件不是 UTF-8 文本</translation>
    </message>
    <message>
        <source>the date "%1" is not a day (yyyy-MM-dd)</source>
        <translation>日期“%1”不是有效的日期（yyyy-MM-dd）</translation>
    </message>
    <message>
        <source>the name does not start with a day (yyyy-MM-dd) and the file has no date</source>
        <translation>文件名不以日期（yyyy-MM-dd）开头，文件中也没有日期</translation>
    </message>
    <message>
        <source>the UUID "%1" is not a UUID</source>
        <translation>“%1”不是有效的 UUID</translation>
    </message>
    <message>
        <source>the note is empty</source>
        <translation>笔记为空</translation>
    </message>
    <message>
        <source>An import is running already.</source>
        <translation>已有导入正在进行。</translation>
    </message>
    <message>
        <source>%1 is not a folder.</source>
        <translation>%1 不是文件夹。</translation>
    </message>
    <message>
        <source>another file has the same UUID</source>
        <translation>另一个文件的 UUID 相同</translation>
    </message>
    <message>
        <source>Nothing was imported: the diary cannot be read (%1).</source>
        <translation>未导入任何内容：无法读取日记（%1）。</translation>
    </message>
    <message>
        <source>the note belongs to another account on this computer</source>
        <translation>该笔记属于此电脑上的另一个帐户</translation>
    </message>
    <message>
        <source>the note was changed in this diary after the file was written: the diary&apos;s text is kept</source>
        <translation>该笔记在文件写出之后已在本日记中修改：保留日记中的文本</translation>
    </message>
    <message>
        <source>Nothing was imported: the diary cannot be written (%1).</source>
        <translation>未导入任何内容：无法写入日记（%1）。</translation>
    </message>
</context>
<context>
    <name>NoteFile</name>
    <message>
        <source>line %1 of the header is not "name: value"</source>
        <translation>头部第 %1 行不是“名称: 值”格式</translation>
    </message>
    <message>
        <source>line %1 of the header has a broken quoted value</source>
        <translation>头部第 %1 行的引号值不完整</translation>
    </message>
    <message>
        <source>the header is not closed</source>
        <translation>头部没有结束</translation>
    </message>
    <message>
        <source>the picture %1 is not a file</source>
        <translation>图片 %1 不是文件</translation>
    </message>
    <message>
        <source>the picture %1 is larger than %2 MB</source>
        <translation>图片 %1 大于 %2 MB</translation>
    </message>
    <message>
        <source>the picture %1 cannot be read: %2</source>
        <translation>无法读取图片 %1：%2</translation>
    </message>
    <message>
        <source>the picture %1 is not a picture</source>
        <translation>%1 不是图片</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Unknown format %1: use markdown, html or pdf.</source>
        <translation>未知格式 %1：请使用 markdown、html 或 pdf。</translation>
    </message>
    <message>
        <source>%1 is not a day: write it as yyyy-MM-dd.</source>
        <translation>%1 不是日期：请写成 yyyy-MM-dd。</translation>
    </message>
    <message>
        <source>Exported %1 notes to %2.</source>
        <translation>已将 %1 篇笔记导出到 %2。</translation>
    </message>
    <message>
        <source>Added %1, updated %2, unchanged %3.</source>
        <translation>新增 %1，更新 %2，未变 %3。</translation>
    </message>
    <message>
        <source>Left out %1: %2</source>
        <translation>已跳过 %1：%2</translation>
    </message>
    <message>
        <source>Kelpo, a diary. Without options it opens its window.</source>
        <translation>Kelpo 日记。不带选项时打开窗口。</translation>
    </message>
    <message>
        <source>Writes the notes into &lt;folder&gt; (for pdf: a file or a folder) and exits.</source>
        <translation>将笔记写入 &lt;folder&gt;（pdf 时为文件或文件夹）后退出。</translation>
    </message>
    <message>
        <source>Exports from this day on (yyyy-MM-dd).</source>
        <translation>从这一天开始导出（yyyy-MM-dd）。</translation>
    </message>
    <message>
        <source>Exports up to this day (yyyy-MM-dd).</source>
        <translation>导出到这一天为止（yyyy-MM-dd）。</translation>
    </message>
    <message>
        <source>markdown (the default), html or pdf.</source>
        <translation>markdown（默认）、html 或 pdf。</translation>
    </message>
    <message>
        <source>Reads the notes in &lt;folder&gt; into the diary and exits.</source>
        <translation>将 &lt;folder&gt; 中的笔记读入日记后退出。</translation>
    </message>
    <message>
        <source>Puts the backup &lt;file&gt; in place of the diary and exits; the diary as it was is kept aside.</source>
        <translation>用备份 &lt;file&gt; 替换日记后退出；原来的日记会另外保存。</translation>
    </message>
    <message>
        <source>Give one of --export, --import and --restore.</source>
        <translation>请只给出 --export、--import 和 --restore 中的一个。</translation>
    </message>
    <message>
        <source>Restored %1.</source>
        <translation>已恢复 %1。</translation>
    </message>
    <message>
        <source>The diary as it was is kept as %1.</source>
        <translation>原来的日记保存为 %1。</translation>
    </message>
</context>
<context>
    <name>ViewOptions</name>
    <message>
        <source>Added %1, updated %2, unchanged %3.</source>
        <translation>新增 %1，更新 %2，未变 %3。</translation>
    </message>
    <message>
        <source>Left out %1: %2</source>
        <translation>已跳过 %1：%2</translation>
    </message>
    <message>
        <source>Exported %1 notes to %2.</source>
        <translation>已将 %1 篇笔记导出到 %2。</translation>
    </message>
    <message>
        <source>Export to folder</source>
        <translation>导出到文件夹</translation>
    </message>
    <message>
        <source>Import from folder</source>
        <translation>从文件夹导入</translation>
    </message>
    <message>
        <source>Backups</source>
        <translation>备份</translation>
    </message>
    <message>
        <source>A copy of the diary is made every day; the last 7 days and 4 weeks are kept.</source>
        <translation>每天自动备份日记；保留最近 7 天和 4 周的备份。</translation>
    </message>
    <message>
        <source>Back up now</source>
        <translation>立即备份</translation>
    </message>
    <message>
        <source>Restore and restart</source>
        <translation>恢复并重新启动</translation>
    </message>
    <message>
        <source>Restore…</source>
        <translation>恢复…</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>导出</translation>
    </message>
    <message>
        <source>Markdown</source>
        <translation>Markdown</translation>
    </message>
    <message>
        <source>HTML</source>
        <translation>HTML</translation>
    </message>
    <message>
        <source>PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <source>From</source>
        <translation>从</translation>
    </message>
    <message>
        <source>to</source>
        <translation>到</translation>
    </message>
    <message>
        <source>Export…</source>
        <translation>导出…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>导入</translation>
    </message>
    <message>
        <source>Reads an exported folder back, or .md and .txt files whose names start with a day (2026-12-10 Walk.md). Notes already in the diary are updated, not doubled.</source>
        <translation>读回导出的文件夹，或文件名以日期开头的 .md 和 .txt 文件（如 2026-12-10 散步.md）。日记中已有的笔记会被更新，不会重复。</translation>
    </message>
    <message>
        <source>Import…</source>
        <translation>导入…</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>StoreMessages</name>
    <message>
        <source>Kelpo is already open on this diary. Close the other window, then try again.</source>
        <translation>Kelpo 已经打开了这本日记。请关闭另一个窗口，然后重试。</translation>
    </message>
    <message>
        <source>%1 cannot be written. Allow writing to it and to its folder, then try again.</source>
        <translation>无法写入 %1。请允许写入该文件及其文件夹，然后重试。</translation>
    </message>
    <message>
        <source>the disk is full. Free some space, then try again.</source>
        <translation>磁盘已满。请释放一些空间，然后重试。</translation>
    </message>
    <message>
        <source>%1 is damaged. Copy what you wrote, then restore the file from a backup.</source>
        <translation>%1 已损坏。请复制您写的内容，然后从备份恢复该文件。</translation>
    </message>
    <message>
        <source>%1 was deleted while Kelpo was running. Kelpo has written it again from the copy it had open; try again.</source>
        <translation>%1 在 Kelpo 运行时被删除。Kelpo 已根据其打开的副本重新写入该文件；请重试。</translation>
    </message>
    <message>
        <source>%1 was replaced by another file while Kelpo was running. Try again to write into the new file.</source>
        <translation>%1 在 Kelpo 运行时被另一个文件替换。请重试，以写入新文件。</translation>
    </message>
    <message>
        <source>%1 cannot be opened (%2). Check that it is a file Kelpo may read and write, in a folder that exists, then try again.</source>
        <translation>无法打开 %1（%2）。请确认它是 Kelpo 可以读写的文件，且所在文件夹存在，然后重试。</translation>
    </message>
    <message>
        <source>The diary file %1 is damaged: some notes may not be readable. Copy what you need, then restore the file from a backup.</source>
        <translation>日记文件 %1 已损坏：部分笔记可能无法读取。请复制您需要的内容，然后从备份恢复该文件。</translation>
    </message>
    <message>
        <source>The diary file %1 was deleted while Kelpo was running and could not be written again: quit Kelpo and restore it from a backup.</source>
        <translation>日记文件 %1 在 Kelpo 运行时被删除，且无法重新写入：请退出 Kelpo 并从备份恢复。</translation>
    </message>
    <message>
        <source>The diary file %1 was deleted while Kelpo was running. Kelpo has written it again from the copy it had open.</source>
        <translation>日记文件 %1 在 Kelpo 运行时被删除。Kelpo 已根据其打开的副本重新写入该文件。</translation>
    </message>
    <message>
        <source>The diary file %1 was replaced by another file while Kelpo was running. Kelpo now uses the new file.</source>
        <translation>日记文件 %1 在 Kelpo 运行时被另一个文件替换。Kelpo 现在使用新文件。</translation>
    </message>
    <message>
        <source>The diary file %1 was replaced by another file while Kelpo was running. The notes Kelpo had open were kept in %2; Kelpo now uses the new file.</source>
        <translation>日记文件 %1 在 Kelpo 运行时被另一个文件替换。Kelpo 已打开的笔记保存在 %2 中；Kelpo 现在使用新文件。</translation>
    </message>
    <message>
        <source>Of the changes left unfinished when Kelpo last quit, %1 were saved now and %2 could not be.</source>
        <translation>Kelpo 上次退出时未完成的更改中，%1 项现已保存，%2 项无法保存。</translation>
    </message>
    <message>
        <source>%1 changes left unfinished when Kelpo last quit were saved now.</source>
        <translation>Kelpo 上次退出时未完成的 %1 项更改现已保存。</translation>
    </message>
</context>
<context>
    <name>CPictureLoader</name>
    <message>
        <source>The picture %1 cannot be read.</source>
        <translation>无法读取图片 %1。</translation>
    </message>
    <message>
        <source>%1 is not a picture that Kelpo can show.</source>
        <translation>%1 不是 Kelpo 能显示的图片。</translation>
    </message>
    <message>
        <source>%1 is too large (%2 × %3 pixels): make it smaller first.</source>
        <translation>%1 太大（%2 × %3 像素）：请先将其缩小。</translation>
    </message>
    <message>
        <source>With this picture the note would be larger than the note service takes (%1 MB): put the picture into another note.</source>
        <translation>加入这张图片后，笔记将超过笔记服务可接受的大小（%1 MB）：请把图片放入另一条笔记。</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>The text of this note has not come from the note service yet. Open it again once it has.</source>
        <translation>这条笔记的文字还没有从笔记服务传来。请在它到达后再打开。</translation>
    </message>
    <message>
        <source>The account could not be registered: %1</source>
        <translation>无法注册账户：%1</translation>
    </message>
    <message>
        <source>The account %1 is registered.</source>
        <translation>账户 %1 已注册。</translation>
    </message>
    <message>
        <source>The password reset mail could not be sent: %1</source>
        <translation>无法发送重置密码邮件：%1</translation>
    </message>
    <message>
        <source>Logged in as %1.</source>
        <translation>已以 %1 登录。</translation>
    </message>
    <message>
        <source>Logged out. The notes of %1 stay on this computer; log in to see them again.</source>
        <translation>已退出登录。%1 的笔记仍保存在本机；登录后即可再次查看。</translation>
    </message>
    <message>
        <source>Logged out.</source>
        <translation>已退出登录。</translation>
    </message>
</context>
<context>
    <name>ViewNoteList</name>
    <message>
        <source>No notes found for “%1”.</source>
        <translation>没有找到包含“%1”的笔记。</translation>
    </message>
    <message>
        <source>No notes yet. Ctrl+N writes one.</source>
        <translation>还没有笔记。按 Ctrl+N 写一篇。</translation>
    </message>
</context>
<context>
    <name>TextEditMenu</name>
    <message>
        <source>Undo</source>
        <translation>撤销</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>重做</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>剪切</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>复制</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>粘贴</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>全选</translation>
    </message>
</context>
<context>
    <name>FieldClearButton</name>
    <message>
        <source>Clear</source>
        <translation>清除</translation>
    </message>
</context>
<context>
    <name>CSyncEngine</name>
    <message>
        <source>The note of %1 &quot;%2&quot; cannot be synchronised: %3. It stays on this computer; change it to try again.</source>
        <translation>%1 的笔记“%2”无法同步：%3。它保留在本机上；修改后会再次尝试。</translation>
    </message>
    <message>
        <source>it is larger than the note service accepts</source>
        <translation>它超过了笔记服务允许的大小</translation>
    </message>
    <message>
        <source>(no title)</source>
        <translation>（无标题）</translation>
    </message>
    <message>
        <source>Conflict copy, %1</source>
        <translation>冲突副本，%1</translation>
    </message>
    <message>
        <source>Conflict copy, %1: %2</source>
        <translation>冲突副本，%1：%2</translation>
    </message>
</context>
<context>
    <name>CSyncStatus</name>
    <message>
        <source>Not logged in: notes stay on this computer only</source>
        <translation>未登录：笔记只保存在本机</translation>
    </message>
    <message>
        <source>Connecting to the note service as %1…</source>
        <translation>正在以 %1 连接笔记服务…</translation>
    </message>
    <message>
        <source>%1: synchronising…</source>
        <translation>%1：正在同步…</translation>
    </message>
    <message>
        <source>%1: synchronising, %2 of %3</source>
        <extracomment>%2 of %3 notes have arrived</extracomment>
        <translation>%1：正在同步，%2 / %3</translation>
    </message>
    <message>
        <source>%1: up to date, last synchronised %2</source>
        <translation>%1：已是最新，上次同步 %2</translation>
    </message>
    <message>
        <source>%1: waiting for the note service to log in</source>
        <translation>%1：正在等待笔记服务以完成登录</translation>
    </message>
    <message>
        <source>%1: offline, notes are kept on this computer</source>
        <translation>%1：离线，笔记保存在本机</translation>
    </message>
    <message>
        <source>Not logged in</source>
        <translation>未登录</translation>
    </message>
    <message>
        <source>%1: logged out</source>
        <translation>%1：已退出登录</translation>
    </message>
    <message>
        <source>%1: not synchronised</source>
        <translation>%1：未同步</translation>
    </message>
    <message>
        <source>The note service cannot be reached (%1). Kelpo tries again every minute; what is written meanwhile is sent when the service answers.</source>
        <translation>无法连接笔记服务（%1）。Kelpo 每分钟重试一次；在此期间写下的内容会在服务恢复后发送。</translation>
    </message>
    <message>
        <source>The note service did not accept the password of %1: it may have been changed on another computer. Log in again with the current password.</source>
        <translation>笔记服务不接受 %1 的密码：可能已在另一台电脑上修改。请用当前密码重新登录。</translation>
    </message>
    <message>
        <source>The note service refuses logins for a while after too many attempts. Kelpo tries again every minute; nothing needs to be done.</source>
        <translation>尝试次数过多，笔记服务暂时拒绝登录。Kelpo 每分钟重试一次，无需任何操作。</translation>
    </message>
    <message>
        <source>The note service gave an answer Kelpo cannot use (%1). Kelpo tries again every minute; if this stays, check the service's address.</source>
        <translation>笔记服务返回了 Kelpo 无法使用的应答（%1）。Kelpo 每分钟重试一次；如果一直如此，请检查服务地址。</translation>
    </message>
    <message>
        <source>Logged in as %1 on this computer only: the note service cannot be reached (%2). Kelpo tries again every minute.</source>
        <translation>已在本机以 %1 登录，但无法连接笔记服务（%2）。Kelpo 每分钟重试一次。</translation>
    </message>
    <message>
        <source>Login as %1 failed: the note service cannot be reached (%2). Kelpo tries again every minute; check the connection.</source>
        <translation>以 %1 登录失败：无法连接笔记服务（%2）。Kelpo 每分钟重试一次；请检查网络连接。</translation>
    </message>
    <message>
        <source>Logged in as %1 on this computer only: the note service refuses logins for a while after too many attempts. Kelpo tries again every minute.</source>
        <translation>已在本机以 %1 登录，但尝试次数过多，笔记服务暂时拒绝登录。Kelpo 每分钟重试一次。</translation>
    </message>
    <message>
        <source>Login as %1 failed: the note service refuses logins for a while after too many attempts. Kelpo tries again every minute.</source>
        <translation>以 %1 登录失败：尝试次数过多，笔记服务暂时拒绝登录。Kelpo 每分钟重试一次。</translation>
    </message>
    <message>
        <source>Logged in as %1 on this computer only: the note service gave an answer Kelpo cannot use (%2). Kelpo tries again every minute.</source>
        <translation>已在本机以 %1 登录，但笔记服务返回了 Kelpo 无法使用的应答（%2）。Kelpo 每分钟重试一次。</translation>
    </message>
    <message>
        <source>Login as %1 failed: the note service gave an answer Kelpo cannot use (%2). Kelpo tries again every minute; if this stays, check the service's address.</source>
        <translation>以 %1 登录失败：笔记服务返回了 Kelpo 无法使用的应答（%2）。Kelpo 每分钟重试一次；如果一直如此，请检查服务地址。</translation>
    </message>
</context>
<context>
    <name>SyncStatusBar</name>
    <message>
        <source>Log in</source>
        <translation>登录</translation>
    </message>
</context>
</TS>
