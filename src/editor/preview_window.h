// The preview: plays the document's pictures with their real delays (or only
// the selected frames' pictures), honouring the play count unless the
// preferences say loop for ever; full screen without controls when they say
// so (Esc leaves). Pause, single step and a speed control.
#pragma once

#include <QDialog>
#include <QTimer>
#include <vector>

class QLabel;
class QPushButton;
class QSlider;

namespace fb {

class DocumentContext;

class PreviewWindow : public QDialog {
  Q_OBJECT
 public:
  // `frames`: the frames whose pictures play, in order (all when empty).
  PreviewWindow(DocumentContext& context, std::vector<int> frames, QWidget* parent = nullptr);
  ~PreviewWindow() override;

  bool selectedOnly() const { return selectedOnly_; }
  // What plays: the picture shown (an index among the frames) and how long it
  // stays, in milliseconds at the current speed.
  int position() const { return position_; }
  int intervalFor(int position) const;
  int playsDone() const { return plays_; }
  bool playing() const { return running_; }
  // Shows the next picture as the timer would (tests step through a run).
  void advance();
  void pause();
  void play();
  void step();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void showPicture(int position);
  void setSpeed(int value);
  DocumentContext& ctx_;
  std::vector<int> frames_;
  bool selectedOnly_;
  QLabel* picture_;
  QPushButton* playButton_ = nullptr;
  QSlider* speed_ = nullptr;
  QTimer timer_;
  int position_ = 0;
  int plays_ = 0;
  int speedValue_ = 7;
  bool forever_ = false;
  bool running_ = false;
};

}  // namespace fb
