#pragma once
// The busy notice: a small borderless window telling the operator that a long
// operation holds the window.
#include <QLabel>
#include <QWidget>

class TInfoForm : public QWidget {
  Q_OBJECT
 public:
  explicit TInfoForm(QWidget* parent = nullptr);

  // Sets the text and shows the notice if it is not showing, painted at once.
  void ShowInfo(const QString& text);

  QLabel* lbInfo;
  QLabel* lbCancel;
  bool Cancelled = false;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The label's design height where the font fits the text, more where not.
  void FitLabel();
};

extern TInfoForm* InfoForm;
