// What the user makes with the program, and the settings each purpose sets:
// shared by the first-run dialog (313) and the preferences' "用途" page.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

#include "base/prefs.h"

class QRadioButton;

namespace fb::ui {

enum class Purpose { Gif, Icon, Other };
using PrefWords = std::array<uint32_t, pref::kWordCount>;

// The purpose the words say: icons when word 6 keeps 24-bit data and does
// not preview automatically and word 10 is 0x880010; GIF when word 6 does
// not keep 24-bit data and word 10 is 0x880001; anything else "other".
Purpose purposeOf(const PrefWords& words);
// Sets the words a purpose stands for ("other" changes nothing).
void applyPurpose(Purpose purpose, PrefWords& words);
// The words as the preference block holds them (word 2 as read).
PrefWords currentWords();
// Writes the words that differ from `before`.
void storeChangedWords(const PrefWords& words, const PrefWords& before);

// The three choices as radio buttons ("purposeGif", "purposeIcon", "purposeOther").
class PurposeChoice {
 public:
  explicit PurposeChoice(QWidget* parent);
  void set(Purpose p);
  Purpose get() const;
  QRadioButton* button(Purpose p) const;

 private:
  QRadioButton *gif_, *icon_, *other_;
};

// The first-run question (dialog 313). OK stores the words of a purpose
// other than the one the settings show.
class PurposeDialog : public QDialog {
 public:
  explicit PurposeDialog(QWidget* parent = nullptr);
  void accept() override;
  const PurposeChoice& choice() const { return choice_; }

 private:
  PurposeChoice choice_;
  Purpose shown_;
};

// At start-up without a file: asks once (word 15, 0x40 records that it was asked).
void askPurposeOnFirstRun(QWidget* parent);

}  // namespace fb::ui
