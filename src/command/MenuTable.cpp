#include "command/MenuTable.h"

#include "platform/Format.h"

namespace {

constexpr MenuItemDef Sep = {MF_SEPARATOR, 0, nullptr};
constexpr MenuItemDef End = {kMenuListEnd, 0, nullptr};

const MenuItemDef kFileItems[] = {
    {MF_STRING, 40000, "開く(&O)...\tCtrl+O"},
    {MF_STRING, 40001, "追加で開く...\tShift+Ctrl+O"},
    {MF_STRING, 40002, "閉じる(&C)"},
    Sep,
    {MF_STRING, 40004, "AVIファイルに保存..."},
    {MF_STRING, 40005, "AVIファイルからビデオをコピー..."},
    {MF_STRING, 40010, "AVIファイルからオーディオを読込..."},
    {MF_STRING, 40008, "AVIファイルとビデオのノイズ除去合成..."},
    {MF_STRING, 40009, "AVIファイルとビデオを比較..."},
    {MF_STRING, 40011, "AVIファイルとオーディオ位置を比較..."},
    Sep,
    {MF_STRING, 40012, "BITMAPファイルにビデオを保存..."},
    {MF_STRING, 40013, "BITMAPファイルからビデオに読込..."},
    Sep,
    {MF_STRING, 40014, "WAVEファイルにオーディオを保存..."},
    {MF_STRING, 40015, "WAVEファイルにオーディオを設定倍率で保存..."},
    {MF_STRING, 40016, "WAVEファイルをオーディオに読込..."},
    Sep,
    // recent files are inserted here
    Sep,
    {MF_STRING, 40099, "終了(&X)"},
    End,
};

const MenuItemDef kVideoItems[] = {
    {MF_STRING, 41000, "ビデオのコマ送り再生\tF5"},
    {MF_STRING, 41001, "ビデオのコマ送り逆再生\tF6"},
    {MF_STRING, 41002, "ビデオのコマ送り差分再生\tF7"},
    {MF_STRING, 41003, "ビデオのコマ送り差分逆再生\tF8"},
    {MF_STRING, 41004, "ビデオの2コマ送り差分再生\tCtrl+F7"},
    {MF_STRING, 41005, "ビデオの2コマ送り差分逆再生\tCtrl+F8"},
    Sep,
    {MF_STRING, 41006, "フィールドを交互に表示\tF1"},
    Sep,
    {MF_STRING, 41012, "このフレームを基準に相対フレームNo表示"},
    {MF_STRING, 41013, "相対フレームNo表示を解除"},
    {MF_STRING, 41014, "相対フレームNo表示を復元\tShift+Ctrl+R"},
    Sep,
    {MF_STRING, 41011, "次のヌルフレームに移動(&N)"},
    {MF_STRING, 41007, "このフレームをインデックスから削除"},
    {MF_STRING, 41008, "このフレームのインデックスをヌルにする"},
    {MF_STRING, 41009, "インデックスのこの位置にヌルフレームを挿入"},
    {MF_STRING, 41010, "全てのヌルフレームをインデックスから削除"},
    {MF_STRING, 41034, "表示中のAVIファイルのインデックスを作成し直す"},
    Sep,
    {MF_STRING, 41016, "輝度の平滑化..."},
    {MF_STRING, 41017, "上フィールドの輝度を平滑化"},
    {MF_STRING, 41018, "下フィールドの輝度を平滑化"},
    {MF_STRING, 41019, "画像選択範囲の輝度を参照フレームで調整"},
    {MF_STRING, 41020, "輝度の平均化"},
    Sep,
    {MF_STRING, 41023, "上フィールドを前後の上フィールド和で置き換える"},
    {MF_STRING, 41024, "下フィールドを前後の下フィールド和で置き換える"},
    {MF_STRING, 41025, "上フィールドを前後の下フィールド和で置き換える"},
    {MF_STRING, 41026, "下フィールドを前後の上フィールド和で置き換える"},
    {MF_STRING, 41027, "上フィールドを前後の上+下フィールド和で置き換える"},
    {MF_STRING, 41028, "下フィールドを前後の下+上フィールド和で置き換える"},
    Sep,
    {MF_STRING, 41030, "フィールドを反転"},
    Sep,
    {MF_STRING, 41032, "クリップボードにビデオをコピー\tShift+Ctrl+C"},
    {MF_STRING, 41033, "クリップボードからビデオに張り付け\tShift+Ctrl+V"},
    Sep,
    {MF_STRING, 41015, "コーデックの設定"},
    {MF_STRING, 41035, "表示中のAVIファイルの参照ファイルを調べる"},
    End,
};

// The two audio captions are formats, filled in before the popup shows.
const MenuItemDef kAudioItems[] = {
    {MF_STRING, 42000, "オーディオ再生\tCtrl+F5"},
    {MF_STRING, 42001, "選択範囲をオーディオ再生\tCtrl+F6"},
    Sep,
    {MF_STRING, 21039, "オーディオをフェードイン"},
    {MF_STRING, 21040, "オーディオをフェードアウト"},
    Sep,
    {MF_STRING, 21038, "オーディオの倍率を上限%lu%%でチェック"},
    {MF_STRING, 21041, "オーディオの音量を%6.3lf倍に変更"},
    End,
};

const MenuItemDef kDelSelectItems[] = {{MF_STRING, 19000, ""}, End};
const MenuItemDef kDelDeleteItems[] = {{MF_STRING, 19500, ""}, End};

const MenuItemDef kSelectItems[] = {
    {MF_STRING, 43001, "開始フレームに指定(&B)\tCtrl+["},
    {MF_STRING, 43002, "開始フレームに移動"},
    {MF_STRING, 43003, "終了フレームに指定(&E)\tCtrl+]"},
    {MF_STRING, 43004, "終了フレームに移動"},
    Sep,
    {MF_STRING, 43005, "フレーム削除範囲に選択範囲を追加(&A)"},
    {MF_POPUP, kMenuDelSelect, "フレーム削除範囲を選択"},
    {MF_POPUP, kMenuDelDelete, "フレーム削除範囲を削除"},
    {MF_STRING, 43006, "全ての削除範囲を削除"},
    {MF_STRING, 43007, "フレーム削除範囲有効"},
    Sep,
    {MF_STRING, 43008, "このフレームをマーク(&M)"},
    {MF_STRING, 43009, "このフレームのマークを削除(&D)"},
    {MF_STRING, 43010, "全てのマークを削除(&A)"},
    Sep,
    {MF_STRING, 43011, "フレームマーク/削除範囲をファイルに保存"},
    {MF_STRING, 43012, "フレームマーク/削除範囲をファイルから読込"},
    Sep,  // mark entries follow
    End,
};

const MenuItemDef kDisplayItems[] = {
    {MF_STRING, 44000, "ウインドウサイズに合わせて表示(&W)\tCtrl+W"},
    {MF_STRING, 44001, "フィールドを混合して表示(&M)\tAlt+M"},
    Sep,
    {MF_STRING, 44002, "0.25倍の明るさで表示"},
    {MF_STRING, 44003, "0.50倍の明るさで表示"},
    {MF_STRING, 44004, "0.75倍の明るさで表示"},
    {MF_CHECKED, 44005, "1.00倍の明るさで表示"},
    {MF_STRING, 44006, "1.50倍の明るさで表示"},
    {MF_STRING, 44007, "2.00倍の明るさで表示"},
    {MF_STRING, 44008, "2.50倍の明るさで表示"},
    {MF_STRING, 44009, "3.00倍の明るさで表示"},
    {MF_STRING, 44010, "3.50倍の明るさで表示"},
    {MF_STRING, 44011, "4.00倍の明るさで表示"},
    {MF_STRING, 44012, "明るさを0.1倍暗く表示"},
    {MF_STRING, 44013, "明るさを0.1倍明るく表示"},
    {MF_STRING, 44014, "明るさを0.01倍暗く表示"},
    {MF_STRING, 44015, "明るさを0.01倍明るく表示"},
    Sep,
    {MF_STRING, 44016, "オプション(&O)..."},
    {MF_STRING, 44017, "音量の変更(&V)..."},
    {MF_STRING, 44018, "フレームの修正(&E)..."},
    {MF_STRING, 44019, "フィールドずれ調整(&F)..."},
    {MF_STRING, 44020, "ステータスウインドウを表示(&S)"},
    {MF_STRING, 44026, "オーディオ波形を表示(&W)"},
    Sep,
    {MF_STRING, 44021, "前面表示"},
    {MF_STRING, 44022, "フレーム修正の変更戻し/し直しで反転表示"},
    {MF_STRING, 44023, "複数フレーム処理中に画面表示を停止"},
    Sep,
    {MF_STRING, 44024, "中止\tESC"},
    End,
};

const MenuItemDef kAboutItems[] = {{MF_STRING, 45000, "バージョン情報..."}, End};

const MenuItemDef kCursorItems[] = {{MF_STRING, 47021, "0,0"}, End};

const MenuItemDef kContextItems[] = {
    {MF_STRING, 44000, "ウインドウサイズで表示\tF2"},
    {MF_STRING, 44001, "フィールドを混合"},
    {MF_STRING, 22017, "差分画像表示"},
    {MF_STRING, 22021, "前方のフレームを参照"},
    {MF_STRING, 22024, "他フィールドを参照"},
    {MF_STRING, 46005, "自フレームの他フィールドを参照"},
    {MF_STRING, 46006, "直近の他フレームを参照"},
    {MF_STRING, 22015, "両フィールドを選択"},
    {MF_STRING, 22018, "上フィールドを選択"},
    {MF_STRING, 22022, "下フィールドを選択"},
    {MF_STRING, 22016, "画像選択範囲を解除"},
    {MF_MENUBREAK, 46011, "画像選択範囲を参照フレームで置換"},
    {MF_STRING, 41019, "画像選択範囲の輝度を参照フレームで調整"},
    {MF_STRING, 46013, "画像選択範囲を上下の画素平均で置換"},
    {MF_STRING, 46014, "ここのノイズを上下の画素平均で置換"},
    {MF_STRING, 46015, "このラインを上下の画素平均で置換"},
    {MF_STRING, 46016, "このラインを参照フレームで置換"},
    Sep,
    {MF_STRING, 21021, "修正内容を保存"},
    {MF_GRAYED, 21020, "修正を1つ戻す"},
    {MF_GRAYED, 21017, "修正を1つし直す"},
    {MF_GRAYED, 21015, "修正内容を破棄"},
    End,
};

const MenuItemDef kBarItems[] = {
    {MF_POPUP, kMenuFile, "ファイル(&F)"},
    {MF_POPUP, kMenuVideo, "ビデオ(&V)"},
    {MF_POPUP, kMenuAudio, "オーディオ(&A)"},
    {MF_POPUP, kMenuSelect, "フレーム選択範囲/マーク(&S)"},
    {MF_POPUP, kMenuDisplay, "表示/輝度(&D)"},
    {MF_POPUP, kMenuAbout, "バージョン情報"},
    End,
};

}  // namespace

// Sub-popups come before the menus that hold them.
const MenuDirectoryEntry kMenuDirectory[] = {
    {kMenuFile, kFileItems},           {kMenuVideo, kVideoItems},         {kMenuAudio, kAudioItems},
    {kMenuDelSelect, kDelSelectItems}, {kMenuDelDelete, kDelDeleteItems}, {kMenuSelect, kSelectItems},
    {kMenuDisplay, kDisplayItems},     {kMenuAbout, kAboutItems},         {kMenuBar, kBarItems},
    {kMenuCursor, kCursorItems},       {kMenuContext, kContextItems},     {-1, nullptr},
};

std::string RecentFileCaption(int index, const std::string& path) {
  return Fmt("%d. ", index) + path;
}

std::string WaveLimitCaption(unsigned long limitPercent) {
  return Fmt("オーディオの倍率を上限%lu%%でチェック", limitPercent);
}

std::string WaveLevelCaption(double level) {
  return Fmt("オーディオの音量を%6.3lf倍に変更", level);
}

std::string DisplayMenuCaption(double brightnessFactor) {
  return Fmt("表示/輝度%4.2lf(&D)", brightnessFactor);
}

std::string CursorPositionCaption(int x, int y, bool shift, int digit) {
  return Fmt("X=%3d, Y=%3d\t%sCtrl+%d", x, y, shift ? "Shift+" : "", digit);
}

std::string SelectionMenuCaption(long start, long end, long lastFrame) {
  if (start < 0 && end < 0) return "フレーム選択範囲(all)/マーク(&S)";
  long s = start < 0 ? 0 : start;
  long e = end < 0 ? lastFrame : end;
  if (e < s) return "フレーム選択範囲(?)/マーク(&S)";
  return Fmt("フレーム選択範囲(%ld)/マーク(&S)", e - s + 1);
}

std::string SelectionStartCaption(long start) {
  if (start < 0) return "開始フレームに移動 (先頭)\tCtrl+<";
  return Fmt("開始フレームに移動 (%06ld)\tCtrl+<", start);
}

std::string SelectionEndCaption(long end) {
  if (end < 0) return "終了フレームに移動 (最後)\tCtrl+>";
  return Fmt("終了フレームに移動 (%06ld)\tCtrl+>", end);
}
