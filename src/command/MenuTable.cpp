#include "command/MenuTable.h"

#include "command/CommandIds.h"
#include "platform/Format.h"

namespace {

constexpr MenuItemDef Sep = {MF_SEPARATOR, 0, nullptr};
constexpr MenuItemDef End = {kMenuListEnd, 0, nullptr};

const MenuItemDef kFileItems[] = {
    {MF_STRING, kCmdOpen, "開く(&O)...\tCtrl+O"},
    {MF_STRING, kCmdOpenAdd, "追加で開く...\tShift+Ctrl+O"},
    {MF_STRING, kCmdClose, "閉じる(&C)"},
    Sep,
    {MF_STRING, kCmdSaveAvi, "AVIファイルに保存..."},
    {MF_STRING, kCmdCopyVideoFromAvi, "AVIファイルからビデオをコピー..."},
    {MF_STRING, kCmdReadAudioFromAvi, "AVIファイルからオーディオを読込..."},
    {MF_STRING, kCmdNoiseCompositeAvi, "AVIファイルとビデオのノイズ除去合成..."},
    {MF_STRING, kCmdCompareVideoAvi, "AVIファイルとビデオを比較..."},
    {MF_STRING, kCmdCompareAudioPosAvi, "AVIファイルとオーディオ位置を比較..."},
    Sep,
    {MF_STRING, kCmdSaveVideoBitmaps, "BITMAPファイルにビデオを保存..."},
    {MF_STRING, kCmdReadVideoBitmaps, "BITMAPファイルからビデオに読込..."},
    Sep,
    {MF_STRING, kCmdSaveWave, "WAVEファイルにオーディオを保存..."},
    {MF_STRING, kCmdSaveWaveScaled, "WAVEファイルにオーディオを設定倍率で保存..."},
    {MF_STRING, kCmdReadWave, "WAVEファイルをオーディオに読込..."},
    {MF_STRING, kCmdSaveWaveAround, "WAVEファイルに-10～+10フレームのオーディオ保存..."},
    {MF_STRING, kCmdSaveWaveAroundShifted,
     "WAVEファイルに-10～+10フレームのオーディオ保存(801サンプル遅延)..."},
    Sep,
    // recent files are inserted here
    Sep,
    {MF_STRING, kCmdExit, "終了(&X)"},
    End,
};

const MenuItemDef kVideoItems[] = {
    {MF_STRING, kCmdStepPlay, "ビデオのコマ送り再生\tF5"},
    {MF_STRING, kCmdStepPlayReverse, "ビデオのコマ送り逆再生\tF6"},
    {MF_STRING, kCmdStepPlayDiff, "ビデオのコマ送り差分再生\tF7"},
    {MF_STRING, kCmdStepPlayDiffReverse, "ビデオのコマ送り差分逆再生\tF8"},
    {MF_STRING, kCmdStepPlayDiff2, "ビデオの2コマ送り差分再生\tCtrl+F7"},
    {MF_STRING, kCmdStepPlayDiff2Reverse, "ビデオの2コマ送り差分逆再生\tCtrl+F8"},
    Sep,
    {MF_STRING, kCmdAlternateFields, "フィールドを交互に表示\tF1"},
    Sep,
    {MF_STRING, kCmdRelativeFrameSet, "このフレームを基準に相対フレームNo表示"},
    {MF_STRING, kCmdRelativeFrameClear, "相対フレームNo表示を解除"},
    {MF_STRING, kCmdRelativeFrameRestore, "相対フレームNo表示を復元\tShift+Ctrl+R"},
    Sep,
    {MF_STRING, kCmdNextNullFrame, "次のヌルフレームに移動(&N)"},
    {MF_STRING, kCmdDeleteFrameFromIndex, "このフレームをインデックスから削除"},
    {MF_STRING, kCmdMakeFrameNull, "このフレームのインデックスをヌルにする"},
    {MF_STRING, kCmdInsertNullFrame, "インデックスのこの位置にヌルフレームを挿入"},
    {MF_STRING, kCmdDeleteAllNullFrames, "全てのヌルフレームをインデックスから削除"},
    {MF_STRING, kCmdRebuildIndex, "表示中のAVIファイルのインデックスを作成し直す"},
    Sep,
    {MF_STRING, kCmdSmoothBrightness, "輝度の平滑化..."},
    {MF_STRING, kCmdSmoothUpperField, "上フィールドの輝度を平滑化"},
    {MF_STRING, kCmdSmoothLowerField, "下フィールドの輝度を平滑化"},
    {MF_STRING, kCmdAdjustSelectionBrightness, "画像選択範囲の輝度を参照フレームで調整"},
    {MF_STRING, kCmdAverageBrightness, "輝度の平均化"},
    Sep,
    {MF_STRING, kCmdUpperFromUpperSum, "上フィールドを前後の上フィールド和で置き換える"},
    {MF_STRING, kCmdLowerFromLowerSum, "下フィールドを前後の下フィールド和で置き換える"},
    {MF_STRING, kCmdUpperFromLowerSum, "上フィールドを前後の下フィールド和で置き換える"},
    {MF_STRING, kCmdLowerFromUpperSum, "下フィールドを前後の上フィールド和で置き換える"},
    {MF_STRING, kCmdUpperFromBothSum, "上フィールドを前後の上+下フィールド和で置き換える"},
    {MF_STRING, kCmdLowerFromBothSum, "下フィールドを前後の下+上フィールド和で置き換える"},
    Sep,
    {MF_STRING, kCmdSwapFields, "フィールドを反転"},
    Sep,
    {MF_STRING, kCmdCopyToClipboard, "クリップボードにビデオをコピー\tShift+Ctrl+C"},
    {MF_STRING, kCmdPasteFromClipboard, "クリップボードからビデオに張り付け\tShift+Ctrl+V"},
    Sep,
    {MF_STRING, kCmdCodecSettings, "コーデックの設定"},
    {MF_STRING, kCmdCheckReferenceFiles, "表示中のAVIファイルの参照ファイルを調べる"},
    End,
};

// The two audio captions are formats, filled in before the popup shows.
const MenuItemDef kAudioItems[] = {
    {MF_STRING, kCmdPlayAudio, "オーディオ再生\tCtrl+F5"},
    {MF_STRING, kCmdPlayAudioSelection, "選択範囲をオーディオ再生\tCtrl+F6"},
    Sep,
    {MF_STRING, kCmdFadeIn, "オーディオをフェードイン"},
    {MF_STRING, kCmdFadeOut, "オーディオをフェードアウト"},
    Sep,
    {MF_STRING, kCmdWaveLimitCheck, "オーディオの倍率を上限%lu%%でチェック"},
    {MF_STRING, kCmdChangeVolume, "オーディオの音量を%6.3lf倍に変更"},
    Sep,
    {MF_STRING, kCmdDvAudioCheck, "CDVCコーデックの音声過不足チェック"},
    End,
};

const MenuItemDef kDelSelectItems[] = {{MF_STRING, kCmdDelSelectBase, ""}, End};
const MenuItemDef kDelDeleteItems[] = {{MF_STRING, kCmdDelDeleteBase, ""}, End};

const MenuItemDef kSelectItems[] = {
    {MF_STRING, kCmdSetSelectionStart, "開始フレームに指定(&B)\tCtrl+["},
    {MF_STRING, kCmdGoToSelectionStart, "開始フレームに移動"},
    {MF_STRING, kCmdSetSelectionEnd, "終了フレームに指定(&E)\tCtrl+]"},
    {MF_STRING, kCmdGoToSelectionEnd, "終了フレームに移動"},
    Sep,
    {MF_STRING, kCmdAddDeletionRange, "フレーム削除範囲に選択範囲を追加(&A)"},
    {MF_POPUP, kMenuDelSelect, "フレーム削除範囲を選択"},
    {MF_POPUP, kMenuDelDelete, "フレーム削除範囲を削除"},
    {MF_STRING, kCmdDeleteAllRanges, "全ての削除範囲を削除"},
    {MF_STRING, kCmdDeleteRangeOn, "フレーム削除範囲有効"},
    Sep,
    {MF_STRING, kCmdMarkFrame, "このフレームをマーク(&M)"},
    {MF_STRING, kCmdUnmarkFrame, "このフレームのマークを削除(&D)"},
    {MF_STRING, kCmdDeleteAllMarks, "全てのマークを削除(&A)"},
    Sep,
    {MF_STRING, kCmdSaveMarkFile, "フレームマーク/削除範囲をファイルに保存"},
    {MF_STRING, kCmdLoadMarkFile, "フレームマーク/削除範囲をファイルから読込"},
    Sep,  // mark entries follow
    End,
};

const MenuItemDef kDisplayItems[] = {
    {MF_STRING, kCmdFitWindow, "ウインドウサイズに合わせて表示(&W)\tCtrl+W"},
    {MF_STRING, kCmdMixField, "フィールドを混合して表示(&M)\tAlt+M"},
    Sep,
    {MF_STRING, kCmdBrightness025, "0.25倍の明るさで表示"},
    {MF_STRING, kCmdBrightness050, "0.50倍の明るさで表示"},
    {MF_STRING, kCmdBrightness075, "0.75倍の明るさで表示"},
    {MF_CHECKED, kCmdBrightness100, "1.00倍の明るさで表示"},
    {MF_STRING, kCmdBrightness150, "1.50倍の明るさで表示"},
    {MF_STRING, kCmdBrightness200, "2.00倍の明るさで表示"},
    {MF_STRING, kCmdBrightness250, "2.50倍の明るさで表示"},
    {MF_STRING, kCmdBrightness300, "3.00倍の明るさで表示"},
    {MF_STRING, kCmdBrightness350, "3.50倍の明るさで表示"},
    {MF_STRING, kCmdBrightness400, "4.00倍の明るさで表示"},
    {MF_STRING, kCmdDarker10, "明るさを0.1倍暗く表示"},
    {MF_STRING, kCmdBrighter10, "明るさを0.1倍明るく表示"},
    {MF_STRING, kCmdDarker01, "明るさを0.01倍暗く表示"},
    {MF_STRING, kCmdBrighter01, "明るさを0.01倍明るく表示"},
    Sep,
    {MF_STRING, kCmdOptions, "オプション(&O)..."},
    {MF_STRING, kCmdVolumeWindow, "音量の変更(&V)..."},
    {MF_STRING, kCmdCorrectionWindow, "フレームの修正(&E)..."},
    {MF_STRING, kCmdFieldShiftWindow, "フィールドずれ調整(&F)..."},
    {MF_STRING, kCmdShowStatus, "ステータスウインドウを表示(&S)"},
    {MF_STRING, kCmdShowWave, "オーディオ波形を表示(&W)"},
    Sep,
    {MF_STRING, kCmdBringTop, "前面表示"},
    {MF_STRING, kCmdBlinkUndo, "フレーム修正の変更戻し/し直しで反転表示"},
    {MF_STRING, kCmdNotShow, "複数フレーム処理中に画面表示を停止"},
    Sep,
    {MF_STRING, kCmdAbortMenu, "中止\tESC"},
    End,
};

const MenuItemDef kAboutItems[] = {{MF_STRING, kCmdAbout, "バージョン情報..."}, End};

const MenuItemDef kCursorItems[] = {{MF_STRING, kCmdCursorPosFirst, "0,0"}, End};

const MenuItemDef kContextItems[] = {
    {MF_STRING, kCmdFitWindow, "ウインドウサイズで表示\tF2"},
    {MF_STRING, kCmdMixField, "フィールドを混合"},
    {MF_STRING, kCmdDiffImage, "差分画像表示"},
    {MF_STRING, kCmdReferForward, "前方のフレームを参照"},
    {MF_STRING, kCmdReferOtherField, "他フィールドを参照"},
    {MF_STRING, kCmdReferOwnOtherField, "自フレームの他フィールドを参照"},
    {MF_STRING, kCmdReferNearestFrame, "直近の他フレームを参照"},
    {MF_STRING, kCmdSelectBothFields, "両フィールドを選択"},
    {MF_STRING, kCmdSelectUpperField, "上フィールドを選択"},
    {MF_STRING, kCmdSelectLowerField, "下フィールドを選択"},
    {MF_STRING, kCmdClearPictureSelection, "画像選択範囲を解除"},
    {MF_MENUBREAK, kCmdReplaceSelectionFromReference, "画像選択範囲を参照フレームで置換"},
    {MF_STRING, kCmdAdjustSelectionBrightness, "画像選択範囲の輝度を参照フレームで調整"},
    {MF_STRING, kCmdReplaceSelectionWithAverage, "画像選択範囲を上下の画素平均で置換"},
    {MF_STRING, kCmdReplaceNoiseWithAverage, "ここのノイズを上下の画素平均で置換"},
    {MF_STRING, kCmdReplaceLineWithAverage, "このラインを上下の画素平均で置換"},
    {MF_STRING, kCmdReplaceLineFromReference, "このラインを参照フレームで置換"},
    Sep,
    {MF_STRING, kCmdSaveCorrections, "修正内容を保存"},
    {MF_GRAYED, kCmdUndoCorrection, "修正を1つ戻す"},
    {MF_GRAYED, kCmdRedoCorrection, "修正を1つし直す"},
    {MF_GRAYED, kCmdDiscardCorrections, "修正内容を破棄"},
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

std::string AroundFrameCaption(bool wide, bool shifted) {
  std::string caption = wide ? Fmt("WAVEファイルに-%3.1lf～+%3.1lfフレームのオーディオ保存", 20.0, 20.0)
                             : Fmt("WAVEファイルに-%2.0lf～+%2.0lfフレームのオーディオ保存", 10.0, 10.0);
  return caption + (shifted ? "(801サンプル遅延)..." : "...");
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
