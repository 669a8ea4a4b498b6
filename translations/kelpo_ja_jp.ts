<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1">
<context>
    <name>CNoteMgt</name>
    <message>
        <source>If an account has this name or e-mail address, a mail with a reset code is on its way to its address.</source>
        <translation>この名前またはメールアドレスのアカウントがあれば、リセットコードを記したメールをそのアドレスへ送っています。</translation>
    </message>
    <message>
        <source>Search is ready: %1 notes prepared.</source>
        <translation>検索の準備ができました：%1 件のノートを整えました。</translation>
    </message>
    <message>
        <source>Preparing search: %1 of %2 notes…</source>
        <translation>検索を準備しています：%2 件中 %1 件…</translation>
    </message>
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
    <message>
        <source>Notes cannot be read or saved: %1</source>
        <translation>ノートを読み込みも保存もできません：%1</translation>
    </message>
    <message>
        <source>[Picture]</source>
        <translation>[写真]</translation>
    </message>
    <message>
        <source>This note is larger than the note service takes (%1 MB): it is kept on this computer but cannot be synchronised.</source>
        <translation>このノートはノートサービスの上限（%1 MB）を超えています。このコンピューターには保存されますが、同期できません。</translation>
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
    <message>
        <source>The note service did not finish its answer within %1 s.</source>
        <translation>ノートサービスが %1 秒以内に応答を終えませんでした。</translation>
    </message>
    <message>
        <source>The note service answered with a redirect (HTTP %1) to &apos;%2&apos;: check the service address.</source>
        <translation>ノートサービスがリダイレクト（HTTP %1）で「%2」へ応答しました。サービスのアドレスを確認してください。</translation>
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
        <source>User Name</source>
        <translation>ユーザー名</translation>
    </message>
    <message>
        <source>User name or e-mail cannot be empty.</source>
        <translation>ユーザー名や郵便箱になることはできない。</translation>
    </message>
    <message>
        <source>Asking the note service to send the reset mail…</source>
        <translation>ノートサービスに再設定メールの送信を依頼しています…</translation>
    </message>
    <message>
        <source>Both are needed: the mail goes to the address of that account.</source>
        <translation>両方とも必要です。メールはそのアカウントのアドレスに送られます。</translation>
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
    <message>
        <source>Enter your user name and your password.</source>
        <translation>ユーザー名とパスワードを入力してください。</translation>
    </message>
    <message>
        <source>Forgot password</source>
        <translation>パスワードを忘れた</translation>
    </message>
</context>
<context>
    <name>ViewNote</name>
    <message>
        <source>Backup, export and import</source>
        <translation>バックアップ・エクスポート・インポート</translation>
    </message>
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
    <message>
        <source>Your notes belong to %1 — log in to see them.</source>
        <translation>ノートは %1 のものです — ログインすると表示されます。</translation>
    </message>
    <message>
        <source>Notes on this computer belong to %1 — log in to see them.</source>
        <translation>このコンピューターのノートは %1 のものです — ログインすると表示されます。</translation>
    </message>
    <message>
        <source>Years</source>
        <translation>年</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>メニュー</translation>
    </message>
    <message>
        <source>Show the list</source>
        <translation>リストを表示</translation>
    </message>
    <message>
        <source>Show the calendar</source>
        <translation>カレンダーを表示</translation>
    </message>
    <message>
        <source>New note</source>
        <translation>新しいノート</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>検索</translation>
    </message>
    <message>
        <source>Log in</source>
        <translation>ログイン</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>Only notes containing “%1”</source>
        <translation>「%1」を含むノートのみ</translation>
    </message>
    <message>
        <source>Show all</source>
        <translation>すべて表示</translation>
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
    <message>
        <source>Copy the text</source>
        <translation>テキストをコピー</translation>
    </message>
    <message>
        <source>This note was deleted on another computer while it was open here. Finishing keeps it, with your text.</source>
        <translation>このノートは、ここで開いている間に別のコンピューターで削除されました。「完成」を押すと、あなたの文章とともにノートが残ります。</translation>
    </message>
    <message>
        <source>This note was changed on another computer while it was open here. Finishing keeps your text, and the other version is kept as a conflict copy.</source>
        <translation>このノートは、ここで開いている間に別のコンピューターで変更されました。「完成」を押すとあなたの文章が保存され、もう一方の版は競合コピーとして残ります。</translation>
    </message>
    <message>
        <source>Save again</source>
        <translation>もう一度保存</translation>
    </message>
    <message>
        <source>Pictures</source>
        <translation>画像</translation>
    </message>
    <message>
        <source>Throw away the changes to this note?</source>
        <translation>このノートへの変更を破棄しますか？</translation>
    </message>
    <message>
        <source>Discard</source>
        <translation>破棄</translation>
    </message>
    <message>
        <source>Keep editing</source>
        <translation>編集を続ける</translation>
    </message>
    <message>
        <source>Insert a picture</source>
        <translation>画像を挿入</translation>
    </message>
    <message>
        <source>Bold</source>
        <translation>太字</translation>
    </message>
    <message>
        <source>Italic</source>
        <translation>斜体</translation>
    </message>
    <message>
        <source>List</source>
        <translation>箇条書き</translation>
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
<context>
    <name>CBackup</name>
    <message>
        <source>Cannot create the backup folder %1.</source>
        <translation>バックアップフォルダー %1 を作成できません。</translation>
    </message>
    <message>
        <source>Cannot write the backup %1.</source>
        <translation>バックアップ %1 を書き込めません。</translation>
    </message>
    <message>
        <source>%1 is not a file.</source>
        <translation>%1 はファイルではありません。</translation>
    </message>
    <message>
        <source>%1 is not a Kelpo diary.</source>
        <translation>%1 は Kelpo の日記ではありません。</translation>
    </message>
    <message>
        <source>%1 cannot be opened: %2</source>
        <translation>%1 を開けません：%2</translation>
    </message>
    <message>
        <source>%1 is damaged: %2</source>
        <translation>%1 は壊れています：%2</translation>
    </message>
    <message>
        <source>Kelpo is running with this diary; quit it first.</source>
        <translation>Kelpo がこの日記を使用中です。先に終了してください。</translation>
    </message>
    <message>
        <source>Cannot copy %1 to %2.</source>
        <translation>%1 を %2 にコピーできません。</translation>
    </message>
    <message>
        <source>Cannot move %1 aside.</source>
        <translation>%1 を退避できません。</translation>
    </message>
    <message>
        <source>Cannot put the backup in place of %1.</source>
        <translation>バックアップで %1 を置き換えられません。</translation>
    </message>
    <message>
        <source>The backup was not restored: %1</source>
        <translation>バックアップは復元されませんでした：%1</translation>
    </message>
    <message>
        <source>The backup %1 is restored.</source>
        <translation>バックアップ %1 を復元しました。</translation>
    </message>
    <message>
        <source>The backup %1 is restored; the diary as it was is kept as %2.</source>
        <translation>バックアップ %1 を復元しました。元の日記は %2 として保存されています。</translation>
    </message>
    <message>
        <source>Cannot ask for the restore: %1</source>
        <translation>復元を予約できません：%1</translation>
    </message>
</context>
<context>
    <name>CExportWriter</name>
    <message>
        <source>The export was cancelled.</source>
        <translation>エクスポートは取り消されました。</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>%1 を書き込めません：%2</translation>
    </message>
    <message>
        <source>Cannot create the folder %1.</source>
        <translation>フォルダー %1 を作成できません。</translation>
    </message>
    <message>
        <source>Cannot write %1.</source>
        <translation>%1 を書き込めません。</translation>
    </message>
</context>
<context>
    <name>CExporter</name>
    <message>
        <source>Unknown export format "%1".</source>
        <translation>不明なエクスポート形式「%1」です。</translation>
    </message>
    <message>
        <source>A day is written as yyyy-MM-dd, for example 2026-12-10.</source>
        <translation>日付は yyyy-MM-dd の形式で書きます（例：2026-12-10）。</translation>
    </message>
    <message>
        <source>An export is running already.</source>
        <translation>エクスポートはすでに実行中です。</translation>
    </message>
    <message>
        <source>Choose a folder to export to.</source>
        <translation>エクスポート先のフォルダーを選んでください。</translation>
    </message>
    <message>
        <source>The first day of the range comes after the last.</source>
        <translation>範囲の開始日が終了日より後です。</translation>
    </message>
    <message>
        <source>Cannot write into the folder %1.</source>
        <translation>フォルダー %1 に書き込めません。</translation>
    </message>
    <message>
        <source>The notes cannot be read: %1</source>
        <translation>ノートを読み込めません：%1</translation>
    </message>
</context>
<context>
    <name>CImporter</name>
    <message>
        <source>the note with its pictures is larger than %1 MB</source>
        <translation>画像を含めたノートが %1 MB を超えています</translation>
    </message>
    <message>
        <source>the file is larger than 64 MB</source>
        <translation>ファイルが 64 MB を超えています</translation>
    </message>
    <message>
        <source>the file cannot be read: %1</source>
        <translation>ファイルを読み込めません：%1</translation>
    </message>
    <message>
        <source>the file is not UTF-8 text</source>
        <translation>ファイルが UTF-8 のテキストではありません</translation>
    </message>
    <message>
        <source>the date "%1" is not a day (yyyy-MM-dd)</source>
        <translation>日付「%1」は正しい日付（yyyy-MM-dd）ではありません</translation>
    </message>
    <message>
        <source>the name does not start with a day (yyyy-MM-dd) and the file has no date</source>
        <translation>ファイル名が日付（yyyy-MM-dd）で始まらず、ファイルにも日付がありません</translation>
    </message>
    <message>
        <source>the UUID "%1" is not a UUID</source>
        <translation>「%1」は正しい UUID ではありません</translation>
    </message>
    <message>
        <source>the note is empty</source>
        <translation>ノートが空です</translation>
    </message>
    <message>
        <source>An import is running already.</source>
        <translation>インポートはすでに実行中です。</translation>
    </message>
    <message>
        <source>%1 is not a folder.</source>
        <translation>%1 はフォルダーではありません。</translation>
    </message>
    <message>
        <source>another file has the same UUID</source>
        <translation>別のファイルが同じ UUID を持っています</translation>
    </message>
    <message>
        <source>Nothing was imported: the diary cannot be read (%1).</source>
        <translation>何もインポートされませんでした：日記を読み込めません（%1）。</translation>
    </message>
    <message>
        <source>the note belongs to another account on this computer</source>
        <translation>このノートはこのコンピューターの別のアカウントのものです</translation>
    </message>
    <message>
        <source>the note was changed in this diary after the file was written: the diary&apos;s text is kept</source>
        <translation>このノートはファイルが書き出された後にこの日記で変更されています：日記の本文を残します</translation>
    </message>
    <message>
        <source>Nothing was imported: the diary cannot be written (%1).</source>
        <translation>何もインポートされませんでした：日記に書き込めません（%1）。</translation>
    </message>
</context>
<context>
    <name>NoteFile</name>
    <message>
        <source>line %1 of the header is not "name: value"</source>
        <translation>ヘッダーの %1 行目が「名前: 値」の形式ではありません</translation>
    </message>
    <message>
        <source>line %1 of the header has a broken quoted value</source>
        <translation>ヘッダーの %1 行目の引用符付きの値が壊れています</translation>
    </message>
    <message>
        <source>the header is not closed</source>
        <translation>ヘッダーが閉じられていません</translation>
    </message>
    <message>
        <source>the picture %1 is not a file</source>
        <translation>画像 %1 はファイルではありません</translation>
    </message>
    <message>
        <source>the picture %1 is larger than %2 MB</source>
        <translation>画像 %1 は %2 MB より大きいです</translation>
    </message>
    <message>
        <source>the picture %1 cannot be read: %2</source>
        <translation>画像 %1 を読み込めません：%2</translation>
    </message>
    <message>
        <source>the picture %1 is not a picture</source>
        <translation>%1 は画像ではありません</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>Unknown format %1: use markdown, html or pdf.</source>
        <translation>不明な形式 %1 です：markdown、html、pdf のいずれかを使ってください。</translation>
    </message>
    <message>
        <source>%1 is not a day: write it as yyyy-MM-dd.</source>
        <translation>%1 は日付ではありません：yyyy-MM-dd の形式で書いてください。</translation>
    </message>
    <message>
        <source>Exported %1 notes to %2.</source>
        <translation>%1 件のノートを %2 にエクスポートしました。</translation>
    </message>
    <message>
        <source>Added %1, updated %2, unchanged %3.</source>
        <translation>追加 %1、更新 %2、変更なし %3。</translation>
    </message>
    <message>
        <source>Left out %1: %2</source>
        <translation>%1 を除外しました：%2</translation>
    </message>
    <message>
        <source>Kelpo, a diary. Without options it opens its window.</source>
        <translation>日記アプリ Kelpo。オプションなしで起動するとウィンドウを開きます。</translation>
    </message>
    <message>
        <source>Writes the notes into &lt;folder&gt; (for pdf: a file or a folder) and exits.</source>
        <translation>ノートを &lt;folder&gt;（pdf の場合はファイルまたはフォルダー）に書き出して終了します。</translation>
    </message>
    <message>
        <source>Exports from this day on (yyyy-MM-dd).</source>
        <translation>この日以降をエクスポートします（yyyy-MM-dd）。</translation>
    </message>
    <message>
        <source>Exports up to this day (yyyy-MM-dd).</source>
        <translation>この日までをエクスポートします（yyyy-MM-dd）。</translation>
    </message>
    <message>
        <source>markdown (the default), html or pdf.</source>
        <translation>markdown（既定）、html、pdf のいずれか。</translation>
    </message>
    <message>
        <source>Reads the notes in &lt;folder&gt; into the diary and exits.</source>
        <translation>&lt;folder&gt; のノートを日記に読み込んで終了します。</translation>
    </message>
    <message>
        <source>Puts the backup &lt;file&gt; in place of the diary and exits; the diary as it was is kept aside.</source>
        <translation>バックアップ &lt;file&gt; で日記を置き換えて終了します。元の日記は別に保存されます。</translation>
    </message>
    <message>
        <source>Give one of --export, --import and --restore.</source>
        <translation>--export、--import、--restore のうち一つだけを指定してください。</translation>
    </message>
    <message>
        <source>Restored %1.</source>
        <translation>%1 を復元しました。</translation>
    </message>
    <message>
        <source>The diary as it was is kept as %1.</source>
        <translation>元の日記は %1 として保存されています。</translation>
    </message>
</context>
<context>
    <name>ViewOptions</name>
    <message>
        <source>Added %1, updated %2, unchanged %3.</source>
        <translation>追加 %1、更新 %2、変更なし %3。</translation>
    </message>
    <message>
        <source>Left out %1: %2</source>
        <translation>%1 を除外しました：%2</translation>
    </message>
    <message>
        <source>Exported %1 notes to %2.</source>
        <translation>%1 件のノートを %2 にエクスポートしました。</translation>
    </message>
    <message>
        <source>Export to folder</source>
        <translation>フォルダーにエクスポート</translation>
    </message>
    <message>
        <source>Import from folder</source>
        <translation>フォルダーからインポート</translation>
    </message>
    <message>
        <source>Backups</source>
        <translation>バックアップ</translation>
    </message>
    <message>
        <source>A copy of the diary is made every day; the last 7 days and 4 weeks are kept.</source>
        <translation>日記は毎日バックアップされ、直近 7 日分と 4 週分が保存されます。</translation>
    </message>
    <message>
        <source>Back up now</source>
        <translation>今すぐバックアップ</translation>
    </message>
    <message>
        <source>Restore and restart</source>
        <translation>復元して再起動</translation>
    </message>
    <message>
        <source>Restore…</source>
        <translation>復元…</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>エクスポート</translation>
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
        <translation>開始</translation>
    </message>
    <message>
        <source>to</source>
        <translation>終了</translation>
    </message>
    <message>
        <source>Export…</source>
        <translation>エクスポート…</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Import</source>
        <translation>インポート</translation>
    </message>
    <message>
        <source>Reads an exported folder back, or .md and .txt files whose names start with a day (2026-12-10 Walk.md). Notes already in the diary are updated, not doubled.</source>
        <translation>エクスポートしたフォルダー、または名前が日付で始まる .md・.txt ファイル（例：2026-12-10 散歩.md）を読み込みます。日記にすでにあるノートは重複せず更新されます。</translation>
    </message>
    <message>
        <source>Import…</source>
        <translation>インポート…</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
</context>
<context>
    <name>StoreMessages</name>
    <message>
        <source>Kelpo is already open on this diary. Close the other window, then try again.</source>
        <translation>Kelpo はすでにこの日記を開いています。もう一方のウィンドウを閉じてから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>%1 cannot be written. Allow writing to it and to its folder, then try again.</source>
        <translation>%1 に書き込めません。このファイルとそのフォルダーへの書き込みを許可してから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>the disk is full. Free some space, then try again.</source>
        <translation>ディスクがいっぱいです。空き容量を作ってから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>%1 is damaged. Copy what you wrote, then restore the file from a backup.</source>
        <translation>%1 は破損しています。書いた内容をコピーしてから、バックアップからファイルを復元してください。</translation>
    </message>
    <message>
        <source>%1 was deleted while Kelpo was running. Kelpo has written it again from the copy it had open; try again.</source>
        <translation>%1 は Kelpo の実行中に削除されました。Kelpo は開いていたコピーから書き戻しました。もう一度お試しください。</translation>
    </message>
    <message>
        <source>%1 was replaced by another file while Kelpo was running. Try again to write into the new file.</source>
        <translation>%1 は Kelpo の実行中に別のファイルに置き換えられました。新しいファイルに書き込むには、もう一度お試しください。</translation>
    </message>
    <message>
        <source>%1 cannot be opened (%2). Check that it is a file Kelpo may read and write, in a folder that exists, then try again.</source>
        <translation>%1 を開けません（%2）。Kelpo が読み書きできるファイルで、そのフォルダーが存在することを確認してから、もう一度お試しください。</translation>
    </message>
    <message>
        <source>The diary file %1 is damaged: some notes may not be readable. Copy what you need, then restore the file from a backup.</source>
        <translation>日記ファイル %1 は破損しています。一部のノートが読めない可能性があります。必要な内容をコピーしてから、バックアップからファイルを復元してください。</translation>
    </message>
    <message>
        <source>The diary file %1 was deleted while Kelpo was running and could not be written again: quit Kelpo and restore it from a backup.</source>
        <translation>日記ファイル %1 は Kelpo の実行中に削除され、書き戻すことができませんでした。Kelpo を終了し、バックアップから復元してください。</translation>
    </message>
    <message>
        <source>The diary file %1 was deleted while Kelpo was running. Kelpo has written it again from the copy it had open.</source>
        <translation>日記ファイル %1 は Kelpo の実行中に削除されました。Kelpo は開いていたコピーから書き戻しました。</translation>
    </message>
    <message>
        <source>The diary file %1 was replaced by another file while Kelpo was running. Kelpo now uses the new file.</source>
        <translation>日記ファイル %1 は Kelpo の実行中に別のファイルに置き換えられました。Kelpo は新しいファイルを使います。</translation>
    </message>
    <message>
        <source>The diary file %1 was replaced by another file while Kelpo was running. The notes Kelpo had open were kept in %2; Kelpo now uses the new file.</source>
        <translation>日記ファイル %1 は Kelpo の実行中に別のファイルに置き換えられました。Kelpo が開いていたノートは %2 に保存しました。Kelpo は新しいファイルを使います。</translation>
    </message>
    <message>
        <source>Of the changes left unfinished when Kelpo last quit, %1 were saved now and %2 could not be.</source>
        <translation>Kelpo の前回終了時に未完了だった変更のうち、%1 件を保存し、%2 件は保存できませんでした。</translation>
    </message>
    <message>
        <source>%1 changes left unfinished when Kelpo last quit were saved now.</source>
        <translation>Kelpo の前回終了時に未完了だった %1 件の変更を保存しました。</translation>
    </message>
</context>
<context>
    <name>CPictureLoader</name>
    <message>
        <source>The picture %1 cannot be read.</source>
        <translation>画像 %1 を読み込めません。</translation>
    </message>
    <message>
        <source>%1 is not a picture that Kelpo can show.</source>
        <translation>%1 は Kelpo で表示できる画像ではありません。</translation>
    </message>
    <message>
        <source>%1 is too large (%2 × %3 pixels): make it smaller first.</source>
        <translation>%1 は大きすぎます（%2 × %3 ピクセル）。先に小さくしてください。</translation>
    </message>
    <message>
        <source>With this picture the note would be larger than the note service takes (%1 MB): put the picture into another note.</source>
        <translation>この画像を入れるとノートがノートサービスの上限（%1 MB）を超えます。画像は別のノートに入れてください。</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>The text of this note has not come from the note service yet. Open it again once it has.</source>
        <translation>このノートの本文はまだノートサービスから届いていません。届いてからもう一度開いてください。</translation>
    </message>
    <message>
        <source>The account could not be registered: %1</source>
        <translation>アカウントを登録できませんでした：%1</translation>
    </message>
    <message>
        <source>The account %1 is registered.</source>
        <translation>アカウント %1 を登録しました。</translation>
    </message>
    <message>
        <source>The password reset mail could not be sent: %1</source>
        <translation>パスワード再設定メールを送信できませんでした：%1</translation>
    </message>
    <message>
        <source>Logged in as %1.</source>
        <translation>%1 としてログインしました。</translation>
    </message>
    <message>
        <source>Logged out. The notes of %1 stay on this computer; log in to see them again.</source>
        <translation>ログアウトしました。%1 のノートはこのコンピューターに残っています。ログインすると再び表示されます。</translation>
    </message>
    <message>
        <source>Logged out.</source>
        <translation>ログアウトしました。</translation>
    </message>
</context>
<context>
    <name>ViewNoteList</name>
    <message>
        <source>No notes found for “%1”.</source>
        <translation>「%1」を含むノートは見つかりませんでした。</translation>
    </message>
    <message>
        <source>No notes yet. Ctrl+N writes one.</source>
        <translation>ノートはまだありません。Ctrl+N で書けます。</translation>
    </message>
</context>
<context>
    <name>TextEditMenu</name>
    <message>
        <source>Undo</source>
        <translation>元に戻す</translation>
    </message>
    <message>
        <source>Redo</source>
        <translation>やり直す</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>切り取り</translation>
    </message>
    <message>
        <source>Copy</source>
        <translation>コピー</translation>
    </message>
    <message>
        <source>Paste</source>
        <translation>貼り付け</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>削除</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>すべて選択</translation>
    </message>
</context>
<context>
    <name>FieldClearButton</name>
    <message>
        <source>Clear</source>
        <translation>クリア</translation>
    </message>
</context>
<context>
    <name>CSyncEngine</name>
    <message>
        <source>The note of %1 &quot;%2&quot; cannot be synchronised: %3. It stays on this computer; change it to try again.</source>
        <translation>%1 のノート「%2」を同期できません：%3。このコンピューターに残ります。変更すると再試行します。</translation>
    </message>
    <message>
        <source>it is larger than the note service accepts</source>
        <translation>ノートサービスが受け付けるサイズを超えています</translation>
    </message>
    <message>
        <source>(no title)</source>
        <translation>（タイトルなし）</translation>
    </message>
    <message>
        <source>Conflict copy, %1</source>
        <translation>競合コピー、%1</translation>
    </message>
    <message>
        <source>Conflict copy, %1: %2</source>
        <translation>競合コピー、%1：%2</translation>
    </message>
</context>
<context>
    <name>CSyncStatus</name>
    <message>
        <source>Not logged in: notes stay on this computer only</source>
        <translation>未ログイン：ノートはこのコンピューターにだけ保存されます</translation>
    </message>
    <message>
        <source>Connecting to the note service as %1…</source>
        <translation>%1 としてノートサービスに接続しています…</translation>
    </message>
    <message>
        <source>%1: synchronising…</source>
        <translation>%1：同期しています…</translation>
    </message>
    <message>
        <source>%1: synchronising, %2 of %3</source>
        <extracomment>%2 of %3 notes have arrived</extracomment>
        <translation>%1：同期しています（%3 件中 %2 件）</translation>
    </message>
    <message>
        <source>%1: up to date, last synchronised %2</source>
        <translation>%1：最新です（最終同期 %2）</translation>
    </message>
    <message>
        <source>%1: waiting for the note service to log in</source>
        <translation>%1：ログインのためノートサービスを待っています</translation>
    </message>
    <message>
        <source>%1: offline, notes are kept on this computer</source>
        <translation>%1：オフライン。ノートはこのコンピューターに保存されます</translation>
    </message>
    <message>
        <source>Not logged in</source>
        <translation>未ログイン</translation>
    </message>
    <message>
        <source>%1: logged out</source>
        <translation>%1：ログアウトしました</translation>
    </message>
    <message>
        <source>%1: not synchronised</source>
        <translation>%1：同期されていません</translation>
    </message>
    <message>
        <source>The note service cannot be reached (%1). Kelpo tries again every minute; what is written meanwhile is sent when the service answers.</source>
        <translation>ノートサービスに接続できません（%1）。Kelpo は毎分再試行します。その間に書いた内容はサービスが応答したときに送信されます。</translation>
    </message>
    <message>
        <source>The note service did not accept the password of %1: it may have been changed on another computer. Log in again with the current password.</source>
        <translation>ノートサービスが %1 のパスワードを受け付けませんでした。別のコンピューターで変更された可能性があります。現在のパスワードでもう一度ログインしてください。</translation>
    </message>
    <message>
        <source>The note service refuses logins for a while after too many attempts. Kelpo tries again every minute; nothing needs to be done.</source>
        <translation>試行回数が多すぎるため、ノートサービスはしばらくログインを受け付けません。Kelpo は毎分再試行します。操作は必要ありません。</translation>
    </message>
    <message>
        <source>The note service gave an answer Kelpo cannot use (%1). Kelpo tries again every minute; if this stays, check the service's address.</source>
        <translation>ノートサービスから Kelpo が使えない応答が返りました（%1）。Kelpo は毎分再試行します。続く場合はサービスのアドレスを確認してください。</translation>
    </message>
    <message>
        <source>Logged in as %1 on this computer only: the note service cannot be reached (%2). Kelpo tries again every minute.</source>
        <translation>%1 としてこのコンピューターでのみログインしました。ノートサービスに接続できません（%2）。Kelpo は毎分再試行します。</translation>
    </message>
    <message>
        <source>Login as %1 failed: the note service cannot be reached (%2). Kelpo tries again every minute; check the connection.</source>
        <translation>%1 としてのログインに失敗しました：ノートサービスに接続できません（%2）。Kelpo は毎分再試行します。接続を確認してください。</translation>
    </message>
    <message>
        <source>Logged in as %1 on this computer only: the note service refuses logins for a while after too many attempts. Kelpo tries again every minute.</source>
        <translation>%1 としてこのコンピューターでのみログインしました：試行回数が多すぎるため、ノートサービスはしばらくログインを受け付けません。Kelpo は毎分再試行します。</translation>
    </message>
    <message>
        <source>Login as %1 failed: the note service refuses logins for a while after too many attempts. Kelpo tries again every minute.</source>
        <translation>%1 としてのログインに失敗しました：試行回数が多すぎるため、ノートサービスはしばらくログインを受け付けません。Kelpo は毎分再試行します。</translation>
    </message>
    <message>
        <source>Logged in as %1 on this computer only: the note service gave an answer Kelpo cannot use (%2). Kelpo tries again every minute.</source>
        <translation>%1 としてこのコンピューターでのみログインしました：ノートサービスから Kelpo が使えない応答が返りました（%2）。Kelpo は毎分再試行します。</translation>
    </message>
    <message>
        <source>Login as %1 failed: the note service gave an answer Kelpo cannot use (%2). Kelpo tries again every minute; if this stays, check the service's address.</source>
        <translation>%1 としてのログインに失敗しました：ノートサービスから Kelpo が使えない応答が返りました（%2）。Kelpo は毎分再試行します。続く場合はサービスのアドレスを確認してください。</translation>
    </message>
</context>
<context>
    <name>SyncStatusBar</name>
    <message>
        <source>Log in</source>
        <translation>ログイン</translation>
    </message>
</context>
</TS>
