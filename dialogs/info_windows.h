#pragma once
// The two diagram windows and the information window: fixed content, shown
// from the main window, closed by their title bar or by Escape (they hold
// nothing that closing could lose).

#include "window_support.h"

#include <QByteArray>
#include <QImage>
#include <QLabel>
#include <QSize>
#include <QWidget>

// The area a diagram gets on a screen whose free part is `available`: the
// area it is drawn for, or that area reduced in proportion when the window
// and its frame would not fit.
QSize diagramArea(QSize wanted, QSize available);

// A diagram picture scaled proportionally and smoothly into the widget, or,
// when the picture cannot be decoded, a message saying so in its place.
class DiagramImage : public QWidget {
    Q_OBJECT
  public:
    explicit DiagramImage(QWidget* parent = nullptr);

    // Decodes `jpeg`; returns whether it is shown. `name` is the picture's
    // file, named in the message when it fails.
    bool setJpeg(const QByteArray& jpeg, const QString& name);
    // The picture compiled in under `resource`, decoded when the widget is
    // first shown: a diagram nobody opens costs no start-up time or memory.
    void setJpegResource(const QString& resource);

    bool hasPicture() const { return !picture_.isNull(); }
    const QImage& picture() const { return picture_; }
    // Where the picture is drawn, in the widget's own coordinates.
    QRect pictureRect() const;
    // The message shown instead of a picture that failed; empty otherwise.
    const QString& message() const { return message_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void decodeResource();

    QString resource_; // still to be decoded, when not empty
    QImage picture_;
    QImage scaled_; // the picture at the size last drawn, in device pixels
    QString message_;
    QLabel* problem_;
};

// Cable diagram: how the device is connected to the computer for programming.
class TForm7 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm7(QWidget* parent = nullptr);
    DiagramImage* Image1;
};

// Mounting diagram: how the device is installed.
class TForm8 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm8(QWidget* parent = nullptr);
    DiagramImage* Image1;
};

// Information about the product and its maker.
class TForm10 : public StackDialog {
    Q_OBJECT
  public:
    explicit TForm10(QWidget* parent = nullptr);
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    QLabel* Label7;
};
