<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>CNoteMgt</name>
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
        <source>Or</source>
        <translation>或</translation>
    </message>
    <message>
        <source>User Name</source>
        <translation>用户名</translation>
    </message>
    <message>
        <source>User name or e-mail cannot be empty.</source>
        <translation>用户名或邮箱不能为空。</translation>
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
</context>
<context>
    <name>ViewNote</name>
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
</TS>
