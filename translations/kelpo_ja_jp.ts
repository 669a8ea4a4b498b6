<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>CNoteMgt</name>
    <message>
        <source>The mail about modify password is sent to '%1'.</source>
        <translation>改正の暗号メールを発送しなければならない'%1'.</translation>
    </message>
    <message>
        <source>Notes cannot be saved: %1 cannot be opened (%2).</source>
        <translation>ノートを保存できません：%1 を開けません（%2）。</translation>
    </message>
    <message>
        <source>The note could not be removed: %1</source>
        <translation>ノートを削除できませんでした：%1</translation>
    </message>
    <message>
        <source>The note could not be saved: %1</source>
        <translation>ノートを保存できませんでした：%1</translation>
    </message>
    <message>
        <source>The note service did not confirm the login.</source>
        <translation>ノートサービスがログインを確認しませんでした。</translation>
    </message>
</context>
<context>
    <name>CThreadPost</name>
    <message>
        <source>The note service did not answer within %1 s.</source>
        <translation>ノートサービスが %1 秒以内に応答しませんでした。</translation>
    </message>
    <message>
        <source>The note service's answer is larger than %1.</source>
        <translation>ノートサービスの応答が %1 を超えています。</translation>
    </message>
    <message>
        <source>The note service sent an empty answer.</source>
        <translation>ノートサービスの応答が空でした。</translation>
    </message>
    <message>
        <source>The note service's answer is not JSON.</source>
        <translation>ノートサービスの応答が JSON ではありません。</translation>
    </message>
</context>
<context>
    <name>ConfirmFrame</name>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>確定</translation>
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
        <translation>キャンセル</translation>
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
        <translation>時</translation>
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
        <translation>金</translation>
    </message>
    <message>
        <source>Mon</source>
        <translation>月</translation>
    </message>
    <message>
        <source>Sat</source>
        <translation>土</translation>
    </message>
    <message>
        <source>Sun</source>
        <translation>日</translation>
    </message>
    <message>
        <source>Thu</source>
        <translation>木</translation>
    </message>
    <message>
        <source>Tue</source>
        <translation>火</translation>
    </message>
    <message>
        <source>Wed</source>
        <translation>水</translation>
    </message>
</context>
<context>
    <name>ViewAbout</name>
    <message>
        <source>Clear every local note, including notes not yet uploaded?</source>
        <translation>まだアップロードしていないノートも含め、ローカルのノートをすべて消去しますか？</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>工場を閉鎖し</translation>
    </message>
    <message>
        <source>Greyfen Software</source>
        <translation>グレイフェンソフト</translation>
    </message>
</context>
<context>
    <name>ViewForgotPwd</name>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>E-mail</source>
        <translation>電子メール</translation>
    </message>
    <message>
        <source>Forgot password</source>
        <translation>暗証番号を忘れ</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>確定</translation>
    </message>
    <message>
        <source>Or</source>
        <translation>や</translation>
    </message>
    <message>
        <source>User Name</source>
        <translation>ユーザー名</translation>
    </message>
    <message>
        <source>User name or e-mail cannot be empty.</source>
        <translation>ユーザー名や郵便箱になることはできない。</translation>
    </message>
</context>
<context>
    <name>ViewLogin</name>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>User Name</source>
        <translation>ユーザー名</translation>
    </message>
    <message>
        <source>Auto Login</source>
        <translation>自動に登录されてい</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>登录され</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>暗証番号</translation>
    </message>
    <message>
        <source>Register</source>
        <translation>登録</translation>
    </message>
</context>
<context>
    <name>ViewNote</name>
    <message>
        <source>Login</source>
        <translation>登录され</translation>
    </message>
    <message>
        <source>About</source>
        <translation>について</translation>
    </message>
    <message>
        <source>Logout</source>
        <translation>ログオフ</translation>
    </message>
    <message>
        <source>Today</source>
        <translation>今日</translation>
    </message>
</context>
<context>
    <name>ViewNoteEdit</name>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>Attachment</source>
        <translation>添付ファイルの</translation>
    </message>
    <message>
        <source>Do you sure to remove the note?</source>
        <translation>ノートを確認を削除した」と?</translation>
    </message>
    <message>
        <source>Enter Date</source>
        <translation>入力日付</translation>
    </message>
    <message>
        <source>Enter Title</source>
        <translation>入力タイトル</translation>
    </message>
    <message>
        <source>Open a image</source>
        <translation>写真を开けて</translation>
    </message>
</context>
<context>
    <name>ViewRegister</name>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>E-mail</source>
        <translation>電子メール</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>確定</translation>
    </message>
    <message>
        <source>User Name</source>
        <translation>ユーザー名</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>暗証番号</translation>
    </message>
    <message>
        <source>Confirm Password</source>
        <translation>暗証番号を確認し</translation>
    </message>
    <message>
        <source>Confirm password is diff with password.</source>
        <translation>確認暗証番号が一致していない.</translation>
    </message>
    <message>
        <source>E-mail is too short.</source>
        <translation>メールには短い.</translation>
    </message>
    <message>
        <source>First is letter and length is between 6 and 32</source>
        <translation>第一はアルファベットかつの长さは6 ~ 32だった</translation>
    </message>
    <message>
        <source>Nick Name</source>
        <translation>妮は</translation>
    </message>
    <message>
        <source>Password is too short.</source>
        <translation>暗証番号があまりにも短く.</translation>
    </message>
    <message>
        <source>Recover the password by the e-mail</source>
        <translation>このメールボックス回復のパスワードを通知しなければならない</translation>
    </message>
    <message>
        <source>Register User</source>
        <translation>登録者</translation>
    </message>
    <message>
        <source>User name is too short.</source>
        <translation>ユーザー名があまりにも短く.</translation>
    </message>
</context>
</TS>
