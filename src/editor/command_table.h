// The command table: every command id with its text, accelerator and menu.
// The ids are the actions' objectNames, so tests and tools find them by id.
#pragma once

#include <vector>

#include "resources/strings.h"

namespace fb {

enum class Menu {
  File,
  Import,
  Edit,
  Frame,
  FrameRotate,
  Animation,
  AnimationRotate,
  View,
  Zoom,
  Orientation,
  Transparency,
  Download,
  Help,
  None  // reached only by its accelerator
};

struct CommandInfo {
  int id;  // 0: a separator
  Str text;
  const char* keys;  // a QKeySequence text, empty for none
  Menu menu;
};

// In menu order.
const std::vector<CommandInfo>& commandTable();
const CommandInfo* findCommand(int id);

namespace cmd {
constexpr int Open = 1002;
constexpr int OpenFilmstrip = 40111;
constexpr int OpenAvi = 40109;
constexpr int OpenBmp = 40110;
constexpr int OpenJpeg = 40113;
constexpr int OpenPsd = 40112;
constexpr int OpenPng = 40342;
constexpr int OpenIcon = 40133;
constexpr int OpenCursor = 40142;
constexpr int OpenAniCursor = 40118;
constexpr int InsertFrames = 40013;
constexpr int Blend = 40125;
constexpr int Save = 1015;
constexpr int SaveAs = 1016;
constexpr int SaveAsGif = 40161;
constexpr int Revert = 40080;
constexpr int Restart = 40021;
constexpr int Html = 40082;
constexpr int Exit = 1003;
constexpr int Undo = 40001;
constexpr int Redo = 40120;
constexpr int Cut = 40002;
constexpr int Copy = 1012;
constexpr int Paste = 40004;
constexpr int Delete = 40012;
constexpr int SelectAll = 40131;
constexpr int InvertSelection = 40132;
constexpr int Preferences = 40035;
constexpr int FrameProperties = 40009;
constexpr int AllFrameProperties = 40052;
constexpr int LocalPalette = 40044;
constexpr int MoveCrop = 40072;
constexpr int ResizeFrames = 40135;
constexpr int FrameRotate180 = 40074;
constexpr int FrameRotateCw = 40073;
constexpr int FrameRotateCcw = 40075;
constexpr int FrameFlipH = 40076;
constexpr int FrameFlipV = 40077;
constexpr int EditPixels = 40343;
constexpr int ExternalEditFrame = 40337;
constexpr int AnimationProperties = 40008;
constexpr int GlobalPalette = 40050;
constexpr int Comment = 40016;
constexpr int CropAnimation = 40116;
constexpr int ResizeAnimation = 40092;
constexpr int AnimRotate180 = 40105;
constexpr int AnimRotateCw = 40104;
constexpr int AnimRotateCcw = 40106;
constexpr int AnimFlipH = 40107;
constexpr int AnimFlipV = 40108;
constexpr int CentreAll = 325;
constexpr int ExternalEditAnimation = 40336;
constexpr int ReduceColours = 40081;
constexpr int Optimize = 40005;
constexpr int Unoptimize = 40019;
constexpr int Thin = 40119;
constexpr int Reverse = 40115;
constexpr int PingPong = 40341;
constexpr int Timing = 40289;
constexpr int LoadTiming = 324;
constexpr int SaveTiming = 326;
constexpr int Preview = 40010;
constexpr int PreviewSelected = 40340;
constexpr int PropertyToolbar = 40128;
constexpr int FrameTips = 40344;
constexpr int PropertiesWindow = 40335;
constexpr int ZoomIn = 40038;
constexpr int ZoomOut = 40039;
constexpr int Zoom20 = 40060;
constexpr int ZoomActual = 40064;
constexpr int Zoom400 = 40067;
constexpr int OrientDefault = 40027;
constexpr int OrientHorizontal = 40028;
constexpr int OrientVertical = 40029;
constexpr int TranspWindow = 40088;
constexpr int TranspFrame = 40089;
constexpr int TranspCustom = 40090;
constexpr int Speed144 = 40093;
constexpr int Speed128 = 40098;
constexpr int Help = 40023;
constexpr int Tutorial = 40127;
constexpr int About = 1004;
constexpr int RecentFirst = 40150;  // entry n is 40149 + n
constexpr int RecentLast = 40156;
// Property toolbar controls.
constexpr int Interlace = 40040;
constexpr int Transparency = 40041;
constexpr int PickTransparent = 40042;
constexpr int LocalPaletteOnOff = 40043;
constexpr int FrameByName = 40045;
constexpr int Delay = 40046;
constexpr int DisposeNone = 40047;
constexpr int DisposeBackground = 40048;
constexpr int PlayCount = 40049;
constexpr int DisposePrevious = 40051;
constexpr int TrueColour = 40347;
}  // namespace cmd

}  // namespace fb
