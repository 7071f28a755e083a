// Every command number of Mirdex, by name. Menus, the context menu, the
// accelerators and the tool-window controls share this one number space; the
// numbers are the program's own and do not change. This header includes
// nothing, so that core code may use the names.
#pragma once

enum CommandId : int {
  // Keyboard commands: base + Windows virtual-key code of the key.
  kCmdKeyBase = 10000,
  kCmdShiftKeyBase = 11000,
  kCmdCtrlKeyBase = 12000,
  kCmdCtrlShiftKeyBase = 13000,
  kCmdAltKeyBase = 14000,

  // Keys without a modifier.
  kCmdKeyEnter = 10013,  // save the frame corrections unless handled itself
  kCmdEsc = 10027,       // abort
  kCmdKeySpace = 10032,  // one frame forward
  kCmdKeyLeft = 10037,
  kCmdKeyUp = 10038,
  kCmdKeyRight = 10039,
  kCmdKeyDown = 10040,
  kCmdKeyInsert = 10045,
  kCmdKeyDelete = 10046,
  kCmdKeyMultiply = 10106,  // zoom in
  kCmdKeyDivide = 10111,    // zoom out
  kCmdKeyF1 = 10112,        // alternating fields
  kCmdKeyF2 = 10113,        // fit to the window
  kCmdKeyF3 = 10114,
  kCmdKeyF4 = 10115,
  kCmdKeyF5 = 10116,
  kCmdKeyF6 = 10117,
  kCmdKeyF7 = 10118,
  kCmdKeyF8 = 10119,
  kCmdKeyF9 = 10120,
  kCmdKeyF10 = 10121,
  kCmdKeyF11 = 10122,
  kCmdKeyF12 = 10123,

  // Shift + key.
  kCmdShiftSpace = 11032,  // one frame back
  kCmdShiftEnd = 11035,
  kCmdShiftHome = 11036,
  kCmdShiftUp = 11038,
  kCmdShiftDown = 11040,
  kCmdShiftInsert = 11045,
  kCmdShiftDelete = 11046,

  // Ctrl + key.
  kCmdCtrlShiftEnd = 12035,  // Ctrl+Shift+End, numbered as a Ctrl key
  kCmdCtrlHome = 12036,
  kCmdCtrlLeft = 12037,
  kCmdCtrlUp = 12038,
  kCmdCtrlRight = 12039,
  kCmdCtrlDown = 12040,
  kCmdCtrlInsert = 12045,
  kCmdCtrlDelete = 12046,
  kCmdCtrlDigit0 = 12048,  // Ctrl+0 .. Ctrl+9: cursor position + digit
  kCmdCtrlA = 12065,
  kCmdCtrlD = 12068,
  kCmdCtrlE = 12069,
  kCmdCtrlR = 12082,
  kCmdCtrlS = 12083,
  kCmdCtrlW = 12087,
  kCmdCtrlX = 12088,
  kCmdCtrlY = 12089,
  kCmdCtrlZ = 12090,
  kCmdCtrlNum0 = 12096,  // Ctrl + numeric keypad 0 .. 9
  kCmdCtrlNum1 = 12097,
  kCmdCtrlNum2 = 12098,
  kCmdCtrlNum3 = 12099,
  kCmdCtrlNum4 = 12100,
  kCmdCtrlNum5 = 12101,
  kCmdCtrlNum6 = 12102,
  kCmdCtrlNum7 = 12103,
  kCmdCtrlNum8 = 12104,
  kCmdCtrlNum9 = 12105,
  kCmdCtrlAdd = 12107,       // keypad +
  kCmdCtrlSubtract = 12109,  // keypad -
  kCmdCtrlF3 = 12114,
  kCmdCtrlF4 = 12115,
  kCmdCtrlF5 = 12116,
  kCmdCtrlF6 = 12117,
  kCmdCtrlF7 = 12118,
  kCmdCtrlF8 = 12119,

  // Ctrl + Shift + key.
  kCmdCtrlShiftHome = 13036,
  kCmdCtrlShiftLeft = 13037,
  kCmdCtrlShiftUp = 13038,
  kCmdCtrlShiftRight = 13039,
  kCmdCtrlShiftDown = 13040,
  kCmdCtrlShiftDelete = 13046,
  kCmdCtrlShiftDigit0 = 13048,  // Ctrl+Shift+0 .. 9: cursor position + digit
  kCmdCtrlShiftR = 13082,

  // Alt + key.
  kCmdAltBackspace = 14008,
  kCmdAltDelete = 14046,
  kCmdAltM = 14077,

  // Dynamic menu entries: base + index.
  kCmdMarkBase = 18000,       // marks, behind the Selection/Mark popup
  kCmdDelSelectBase = 19000,  // "フレーム削除範囲を選択" entries
  kCmdDelDeleteBase = 19500,  // "フレーム削除範囲を削除" entries
  kCmdCursorPosBase = 47020,  // cursor-position popup
  kCmdRecentFile0 = 50100,    // recent files in the File popup

  // Controls of the main window.
  kCmdAbortButton = 21006,  // the hidden "中止" button
  kCmdFrameNumberBox = 25007,
  kCmdFrameScrollBar = 28000,
  kCmdStatic30006 = 30006,
  kCmdStatic30007 = 30007,
  kCmdStatusBar = 39999,

  // File menu.
  kCmdOpen = 40000,
  kCmdOpenAdd = 40001,
  kCmdClose = 40002,
  kCmdSaveAvi = 40004,
  kCmdCopyVideoFromAvi = 40005,
  kCmdCopyLuminanceFromAvi = 40006,  // no menu item; an open purpose and an operation
  kCmdShakeCorrectFromAvi = 40007,   // no menu item; an open purpose and an operation
  kCmdNoiseCompositeAvi = 40008,
  kCmdCompareVideoAvi = 40009,
  kCmdReadAudioFromAvi = 40010,
  kCmdCompareAudioPosAvi = 40011,
  kCmdSaveVideoBitmaps = 40012,
  kCmdReadVideoBitmaps = 40013,
  kCmdSaveWave = 40014,
  kCmdSaveWaveScaled = 40015,
  kCmdReadWave = 40016,
  kCmdSaveWaveAround = 40017,         // the frames round the current one
  kCmdSaveWaveAroundShifted = 40018,  // the same, 801 samples later
  kCmdExit = 40099,

  // Video menu.
  kCmdStepPlay = 41000,
  kCmdStepPlayReverse = 41001,
  kCmdStepPlayDiff = 41002,
  kCmdStepPlayDiffReverse = 41003,
  kCmdStepPlayDiff2 = 41004,
  kCmdStepPlayDiff2Reverse = 41005,
  kCmdAlternateFields = 41006,
  kCmdDeleteFrameFromIndex = 41007,
  kCmdMakeFrameNull = 41008,
  kCmdInsertNullFrame = 41009,
  kCmdDeleteAllNullFrames = 41010,
  kCmdNextNullFrame = 41011,
  kCmdRelativeFrameSet = 41012,
  kCmdRelativeFrameClear = 41013,
  kCmdRelativeFrameRestore = 41014,
  kCmdCodecSettings = 41015,
  kCmdSmoothBrightness = 41016,
  kCmdSmoothUpperField = 41017,
  kCmdSmoothLowerField = 41018,
  kCmdAdjustSelectionBrightness = 41019,  // also in the context menu
  kCmdAverageBrightness = 41020,
  kCmdUpperFromUpperSum = 41023,
  kCmdLowerFromLowerSum = 41024,
  kCmdUpperFromLowerSum = 41025,
  kCmdLowerFromUpperSum = 41026,
  kCmdUpperFromBothSum = 41027,
  kCmdLowerFromBothSum = 41028,
  kCmdSwapFields = 41030,
  kCmdCopyToClipboard = 41032,
  kCmdPasteFromClipboard = 41033,
  kCmdRebuildIndex = 41034,
  kCmdCheckReferenceFiles = 41035,

  // Audio menu (21038-21041 are also buttons of the volume window).
  kCmdWaveLimitCheck = 21038,
  kCmdFadeIn = 21039,
  kCmdFadeOut = 21040,
  kCmdChangeVolume = 21041,
  kCmdPlayAudio = 42000,
  kCmdPlayAudioSelection = 42001,
  kCmdDvAudioCheck = 42008,

  // Selection/Mark menu.
  kCmdSetSelectionStart = 43001,
  kCmdGoToSelectionStart = 43002,
  kCmdSetSelectionEnd = 43003,
  kCmdGoToSelectionEnd = 43004,
  kCmdAddDeletionRange = 43005,
  kCmdDeleteAllRanges = 43006,
  kCmdDeleteRangeOn = 43007,
  kCmdMarkFrame = 43008,
  kCmdUnmarkFrame = 43009,
  kCmdDeleteAllMarks = 43010,
  kCmdSaveMarkFile = 43011,
  kCmdLoadMarkFile = 43012,

  // Display/Brightness menu (44000 and 44001 also in the context menu).
  kCmdFitWindow = 44000,
  kCmdMixField = 44001,
  kCmdBrightness025 = 44002,
  kCmdBrightness050 = 44003,
  kCmdBrightness075 = 44004,
  kCmdBrightness100 = 44005,
  kCmdBrightness150 = 44006,
  kCmdBrightness200 = 44007,
  kCmdBrightness250 = 44008,
  kCmdBrightness300 = 44009,
  kCmdBrightness350 = 44010,
  kCmdBrightness400 = 44011,
  kCmdDarker10 = 44012,    // 0.1 darker
  kCmdBrighter10 = 44013,  // 0.1 brighter
  kCmdDarker01 = 44014,    // 0.01 darker
  kCmdBrighter01 = 44015,  // 0.01 brighter
  kCmdOptions = 44016,
  kCmdVolumeWindow = 44017,
  kCmdCorrectionWindow = 44018,
  kCmdFieldShiftWindow = 44019,
  kCmdShowStatus = 44020,
  kCmdBringTop = 44021,
  kCmdBlinkUndo = 44022,
  kCmdNotShow = 44023,
  kCmdAbortMenu = 44024,
  kCmdShowWave = 44026,

  // About menu.
  kCmdAbout = 45000,

  // Context menu of the frame view (21015-21021 and 22015-22024 are also
  // controls of the frame-correction window).
  kCmdDiscardCorrections = 21015,
  kCmdRedoCorrection = 21017,
  kCmdUndoCorrection = 21020,
  kCmdSaveCorrections = 21021,
  kCmdSelectBothFields = 22015,
  kCmdClearPictureSelection = 22016,
  kCmdDiffImage = 22017,
  kCmdSelectUpperField = 22018,
  kCmdReferForward = 22021,
  kCmdSelectLowerField = 22022,
  kCmdReferOtherField = 22024,
  kCmdReferOwnOtherField = 46005,
  kCmdReferNearestFrame = 46006,
  kCmdReplaceSelectionFromReference = 46011,
  kCmdReplaceSelectionWithAverage = 46013,
  kCmdReplaceNoiseWithAverage = 46014,
  kCmdReplaceLineWithAverage = 46015,
  kCmdReplaceLineFromReference = 46016,

  // Cursor-position popup and the view's other run-time choices.
  kCmdLineStartSwitch = 47015,  // posted when the line-start dialog closes
  kCmdCursorPosFirst = 47021,   // the "0,0" item before the first rebuild
  kCmdDiffGain1 = 47029,        // difference-gain choices 1..3
  kCmdDiffGain2 = 47030,
  kCmdDiffGain3 = 47031,

  // Frame-correction window controls.
  kCmdZeroShifts = 21016,
  kCmdRecallShift = 21018,
  kCmdStoreShift = 21019,
  kCmdPreviewCorrection = 21030,  // also Ctrl+Enter
  kCmdReferFrameDirect = 22014,
  kCmdKeepSelection = 22019,
  kCmdCorrectionEnabled = 22020,
  kCmdReferUncorrected = 22023,
  kCmdReferFrameBox = 25011,

  // Field-shift window controls.
  kCmdDetectFieldShift = 21026,
  kCmdAdjustFieldShift = 21027,
  kCmdNextFieldShift = 21029,
  kCmdPrevFieldShift = 21031,

  // Volume window controls.
  kCmdLevelCheck = 21042,
  kCmdLevelClear = 21043,
  kCmdLevelCorrection = 22061,

  // Options window controls.
  kCmdLogFile = 22033,
  kCmdPowerOffAfter = 22034,
  kCmdUseMMX = 22035,
  kCmdUseSSE = 22036,

  // Commands without a menu item, sent by the program or re-issued for a key.
  kCmdIgnoreDataAfterIdx1 = 48001,
  kCmdBrightnessApply = 50200,
  kCmdPlayForward = 50400,   // playback operation, F5/F7/Ctrl+F7
  kCmdPlayBackward = 50401,  // playback operation, F6/F8/Ctrl+F8
  kCmdOpenRecord = 50402,    // opens the pending file name
  kCmdStepForward1 = 50600,
  kCmdStepForward30 = 50601,
  kCmdStepForward150 = 50602,
  kCmdStepForward300 = 50603,
  kCmdGoToLastFrame = 50604,
  kCmdGoToSmoothingFrame = 50605,  // the frame the luminance-smoothing window remembers
  kCmdGoToFirstFrame = 50606,
  kCmdStepBackward1 = 50607,
  kCmdStepBackward30 = 50608,
  kCmdStepBackward150 = 50609,
  kCmdStepBackward300 = 50610,
  kCmdInsertKeyAction = 51900,  // what Ins, Shift+Ins and Ctrl+Ins re-issue
};
