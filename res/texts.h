// The texts of the user interface, UTF-8. Each is shown exactly as written here.
#pragma once

namespace quorsel {

// Status line before the first code
inline constexpr const char* TEXT_PREPARING = "準備中";
inline constexpr const char* TEXT_CONNECTING = "接続中";
inline constexpr const char* TEXT_TRANSFERRING = "転送中";
inline constexpr const char* TEXT_WRITING = "書込み中";
// Filled with the four address bytes
inline constexpr const char* TEXT_CONNECT_FAILED_FORMAT = "%d.%d.%d.%d に接続できません";
inline constexpr const char* TEXT_COMM_ERROR = "通信エラーが発生しました";
inline constexpr const char* TEXT_WRITE_ERROR = "書込みエラーが発生しました";
inline constexpr const char* TEXT_WRONG_MODEL = "違う機種のファイルです";
inline constexpr const char* TEXT_FILE_ERROR = "ファイルの読込みでエラーが発生しました";
inline constexpr const char* TEXT_ERASING = "イレーズ中";
inline constexpr const char* TEXT_COMPLETE = "正常終了";
inline constexpr const char* TEXT_BAD_PASSWORD = "パスワードが間違っています";
inline constexpr const char* TEXT_ABORTED = "処理を中断しました";
// Completion box, two lines
inline constexpr const char* TEXT_COMPLETION_BOX = "アップデートを完了しました。\nアクセスポイントを再起動してください。";
inline constexpr const char* TEXT_INVALID_ARGUMENTS = "引数の指定が間違っています";
inline constexpr const char* TEXT_SOCKET_INIT_FAILED = "Windows ｿｹｯﾄの初期化に失敗しました。";
inline constexpr const char* TEXT_PORT_OPEN_ERROR = "通信ポートのオープンエラー";
inline constexpr const char* TEXT_PORT_SETUP_ERROR = "通信ポートの初期化エラー";
// Power-on prompt
inline constexpr const char* TEXT_POWER_ON_LINE1 = "アクセスポイントの電源を入れてください。";
inline constexpr const char* TEXT_POWER_ON_LINE2 = "すでに電源が入っている場合は、いったん";
inline constexpr const char* TEXT_POWER_ON_LINE3 = "電源切り、再度電源を入れてください。";
// Password prompt
inline constexpr const char* TEXT_PASSWORD_CAPTION = "パスワード";
inline constexpr const char* TEXT_PASSWORD_PROMPT = "パスワードを入力してください";
// %1 is the length limit
inline constexpr const char* TEXT_PASSWORD_TOO_LONG_FORMAT = "%1 文字以内で入力してください。";
// Dialog captions and message boxes
// Terminal password prompt: a character that code page 932 cannot hold
inline constexpr const char* TEXT_PASSWORD_BAD_CHARACTER = "パスワードに使えない文字が含まれています。";
// Terminal settings form
inline constexpr const char* TEXT_FORM_TRANSPORT = "接続方法 (1: LAN経由でアップデート, 2: シリアル経由でアップデート)";
inline constexpr const char* TEXT_FORM_COM_PORT = "ポート (COM1〜COM4)";
// Terminal: the question after the numbered table of access points found
inline constexpr const char* TEXT_SEARCH_PICK_HINT = "番号かIPアドレスを入力してください (?: 再検索)";
// Terminal: added to the diagnostic line of a LAN run whose connect failed
inline constexpr const char* TEXT_SEARCH_SUGGESTION =
    "to find the access point's address, run quorsel-scan, or answer ? to the IP address question";
// Dialog captions and message boxes
inline constexpr const char* TEXT_APP_TITLE = "Quorsel";
// Settings dialog
inline constexpr const char* TEXT_LAN_RADIO = "LAN経由でアップデート";
inline constexpr const char* TEXT_SERIAL_RADIO = "シリアル経由でアップデート";
inline constexpr const char* TEXT_PORT_GROUP = "ポート";
inline constexpr const char* TEXT_BAUD_GROUP = "ボーレート";
inline constexpr const char* TEXT_IP_ADDRESS = "IPアドレス";
inline constexpr const char* TEXT_OK = "OK";
inline constexpr const char* TEXT_CANCEL = "ｷｬﾝｾﾙ";
// Version box
inline constexpr const char* TEXT_ABOUT_MENU = "Quorsel のﾊﾞｰｼﾞｮﾝ情報(&A)...";
inline constexpr const char* TEXT_ABOUT_CAPTION = "Quorselのﾊﾞｰｼﾞｮﾝ情報";
inline constexpr const char* TEXT_ABOUT_VERSION = "Quorsel Version 1.0";
// Desktop settings dialog: the window menu's entry that closes the dialog
inline constexpr const char* TEXT_CLOSE_MENU = "閉じる(&C)";

// Search of the local network for access points: the settings dialog's entry, the
// search dialog and the table that the terminal and quorsel-scan print
inline constexpr const char* TEXT_SEARCH_MENU = "アクセスポイントを検索...";
inline constexpr const char* TEXT_SEARCH_CAPTION = "アクセスポイントの検索";
inline constexpr const char* TEXT_SEARCH_PROGRESS = "検索中...";
inline constexpr const char* TEXT_SEARCH_NONE_FOUND = "アクセスポイントが見つかりませんでした";
inline constexpr const char* TEXT_SEARCH_AGAIN = "再検索";
// Column headers; the address column is TEXT_IP_ADDRESS
inline constexpr const char* TEXT_SEARCH_COLUMN_MODEL = "機種";
inline constexpr const char* TEXT_SEARCH_COLUMN_GENERATION = "世代";
inline constexpr const char* TEXT_SEARCH_COLUMN_FITS = "対応";
// The fit mark in the 対応 column, and the row of a service that is no access point
inline constexpr const char* TEXT_SEARCH_FITS_MARK = "○";
// After the generation digit in the 世代 column: the access point's generation
inline constexpr const char* TEXT_SEARCH_GENERATION_NEW = "新";
inline constexpr const char* TEXT_SEARCH_GENERATION_OLD = "旧";
inline constexpr const char* TEXT_SEARCH_NOT_ACCESS_POINT = "アクセスポイントではありません";
// The search of the default targets left subnets out (more than 4096 addresses):
// %1 is the subnets that were searched, "192.168.10.0/24, 172.17.0.0/22"
inline constexpr const char* TEXT_SEARCH_SUBNETS_SEARCHED_FORMAT =
    "アドレスが多すぎるため、次のサブネットだけを検索しました: %1";
// quorsel-scan --verbose: why an address is not listed
inline constexpr const char* TEXT_SEARCH_MISS_REFUSED = "接続を拒否されました";
inline constexpr const char* TEXT_SEARCH_MISS_NO_ANSWER = "応答がありません";
inline constexpr const char* TEXT_SEARCH_MISS_SILENT = "接続後に応答がありません";
// Fleet update (quorsel-fleet): column headers besides the search's address, model and generation
inline constexpr const char* TEXT_FLEET_STATE = "状態";
inline constexpr const char* TEXT_FLEET_ELAPSED = "経過";
// Fleet rows that no run's status line describes
inline constexpr const char* TEXT_FLEET_WAITING = "待機中";
inline constexpr const char* TEXT_FLEET_SKIPPED = "対象外";
inline constexpr const char* TEXT_FLEET_NOT_STARTED = "未実施";
// After a busy row's status text once Ctrl-C was pressed
inline constexpr const char* TEXT_FLEET_AWAITED = "(完了待ち)";
// Ctrl-C: %1 is the number of access points that are still writing
inline constexpr const char* TEXT_FLEET_STOPPING = "中断します。新しいアップデートは開始しません。";
inline constexpr const char* TEXT_FLEET_WAITING_BUSY_FORMAT = "書込み中の %1 台は中断できません。完了を待っています。";
// Summary: %1 completed, %2 failed, %3 aborted, %4 not started, %5 skipped
inline constexpr const char* TEXT_FLEET_SUMMARY_FORMAT = "正常終了 %1 台、失敗 %2 台、中断 %3 台、未実施 %4 台、対象外 %5 台";
// While runs go on: %1 completed, %2 failed, %3 aborted, %4 running, %5 waiting, %6 skipped
inline constexpr const char* TEXT_FLEET_PROGRESS_FORMAT = "正常終了 %1 台、失敗 %2 台、中断 %3 台、実行中 %4 台、待機中 %5 台、対象外 %6 台";
// After an update with --await-restart: the access point has not been seen restarting
// yet; it stopped answering and answered again; the bound passed first
inline constexpr const char* TEXT_FLEET_RESTART_AWAITED = "再起動待ち";
inline constexpr const char* TEXT_FLEET_RESTART_SEEN = "再起動を確認";
inline constexpr const char* TEXT_FLEET_RESTART_NOT_SEEN = "再起動を確認できません";
// --dry-run: the heading of the plan, and the status of an access point that would be updated
inline constexpr const char* TEXT_FLEET_DRY_RUN = "アップデートの予定 (--dry-run: 書込みはしません)";
inline constexpr const char* TEXT_FLEET_PLANNED = "アップデート予定";
// --retry-failed with a report in which every access point ended (then the report's name)
inline constexpr const char* TEXT_FLEET_NOTHING_TO_REDO = "やり直すアクセスポイントはありません";
// --skip-updated: before each address the report shows updated with the same firmware
inline constexpr const char* TEXT_FLEET_ALREADY_UPDATED = "更新済みのため対象外";
// After the fleet's yes/no question (y, yes and はい are yes)
inline constexpr const char* TEXT_FLEET_CONFIRM_CHOICES = " (y/N): ";
// Above the recap after the table: one line per access point that was not updated
inline constexpr const char* TEXT_FLEET_RECAP_HEADING = "更新されなかったアクセスポイント:";
inline constexpr const char* TEXT_FLEET_REPORT_FAILED = "レポートを書き込めません";
// A console program's argument that no UTF-8 text can hold (a lone UTF-16 surrogate)
inline constexpr const char* TEXT_ARGUMENT_NOT_UNICODE = "an argument holds a lone UTF-16 surrogate and cannot be read";
// --help (on standard output) and after an invalid argument (on standard error)
inline constexpr const char* TEXT_FLEET_USAGE =
    "使い方: quorsel-fleet FIRMWARE [-bepfz] [--jobs N] [--report FILE] [--password-file FILE] [--yes] [--] [TARGET...]\n"
    "  TARGET: a.b.c.d, a.b.c.d/n, a.b.c.d-e, @FILE (one target per line), @- (targets from standard input)\n"
    "  without TARGET: the default targets are searched, and what was found is updated after a yes (or --yes)\n"
    "  --firmware FILE        one more firmware file (any number); each access point gets the file of its model\n"
    "  --dry-run              probe, pick the files, check them and the report, print and write the plan; write nothing\n"
    "  --retry-failed REPORT  redo the access points of REPORT that were not updated (no TARGET)\n"
    "  --skip-updated REPORT  leave out the access points REPORT shows updated with the same firmware\n"
    "  --batches LIST         run in batches of these sizes, e.g. 1,5,25%,100% (the last repeats)\n"
    "  --max-fail N|P%        once more than this have failed, start no other (they end stopped-before-start)\n"
    "  --await-restart[=MIN]  after each update, wait (default 30 min) until it is seen restarting\n"
    "  --json                 events as JSON Lines on standard output, text on standard error; never asks\n"
    "  exit: 0 updated, 1 some failed or not started, 2 bad arguments or files, 3 no sockets, 4 nothing to update";
// The reasons for refusing a command line or a file, after TEXT_INVALID_ARGUMENTS and a colon
inline constexpr const char* TEXT_FLEET_NO_ADDRESS = "the targets given hold no address";
// %1 is the firmware file
inline constexpr const char* TEXT_FLEET_NO_SKIP_MODEL_CHECK_FORMAT =
    "-i is not taken by quorsel-fleet: to write another model's firmware, update that one access point with "
    "the firmware file itself (%1 -i)";
inline constexpr const char* TEXT_FLEET_PASSWORD_FILE_ERROR = "パスワードファイルを読み込めません";
// No TARGET: on standard error, each subnet of the default targets that was not searched
inline constexpr const char* TEXT_FLEET_SUBNET_LEFT_OUT = "more than 4096 default targets: not searched";
// No TARGET: the plan (the table of the access points found), then the question
inline constexpr const char* TEXT_FLEET_PLAN = "次のアクセスポイントをアップデートします";
inline constexpr const char* TEXT_FLEET_CONFIRM = "アップデートを開始しますか";
inline constexpr const char* TEXT_FLEET_NEEDS_YES =
    "no target was given: the access points found are updated only after a yes on a terminal, or with --yes";
}  // namespace quorsel
