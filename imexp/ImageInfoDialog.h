#pragma once
// "Image Info" (what one image of a file holds) and "Select Image" (which
// image of a multi-image file to describe).

#include <QDialog>
#include <functional>

#include "UiHost.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace formgate {

class CImageInfoDialog : public QDialog {
public:
    CImageInfoDialog(QWidget* parent, const ImageInfoTexts& texts, std::function<void(void* dialog)> details);

    QPushButton* DetailsButton() const { return details_; }

private:
    QPushButton* details_ = nullptr;
    std::function<void(void*)> showDetails_;
};

class CSelectImageDialog : public QDialog {
public:
    // isValid gives the image index for the typed text, or -1.
    CSelectImageDialog(QWidget* parent, const std::string& fileTitle, int count,
                       std::function<int(const std::string&)> isValid);

    QLineEdit* NumberEdit() const { return number_; }
    // The chosen index once accepted.
    int Chosen() const { return chosen_; }
    // Accepts a number from 1 to the count; anything else is refused with a
    // warning and the dialog stays open.
    void accept() override;

private:
    QLineEdit* number_ = nullptr;
    std::function<int(const std::string&)> isValid_;
    int chosen_ = -1;
};

}  // namespace formgate
