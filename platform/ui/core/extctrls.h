// Panels, splitters and pictures: TPanel (bevelled container), TSplitter (drags the size of the
// aligned control before it), TImage (a picture, JPEG files read with libjpeg) and TPaintBox.
// Ownership and threads as for every control (control.h).
#pragma once

#include <string>

#include "platform/ui/core/control.h"
#include "rtl/exception.h"

RTL_DECLARE_EXCEPTION(EInvalidGraphic, rtl::Exception);

enum TBevelCut { bvNone, bvLowered, bvRaised };

class TPanel : public TWinControl {
 public:
  explicit TPanel(rtl::TComponent* owner);
  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut value);
  TBevelCut BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut value);
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value);
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int value);
  TAlignment Alignment = taCenter;
  using TControl::Canvas;

 protected:
  // The children share the client area inside the bevels and the border.
  TRect AlignRect() const override;
  void Paint() override;

 private:
  void Changed();
  TBevelCut bevelOuter_ = bvRaised;
  TBevelCut bevelInner_ = bvNone;
  int bevelWidth_ = 1;
  int borderWidth_ = 0;
};

// Dragging the splitter resizes the control aligned to the same side just before it (the one
// whose edge touches the splitter), within MinSize and what leaves MinSize to the rest.
class TSplitter : public TGraphicControl {
 public:
  explicit TSplitter(rtl::TComponent* owner);
  int MinSize = 30;
  bool Beveled = false;
  TNotifyEvent OnMoved;
  // The control the splitter sizes now, or null.
  TControl* FindControl() const;

 protected:
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void Paint() override;

 private:
  bool Horizontal() const { return Align() == alLeft || Align() == alRight; }
  TControl* sizing_ = nullptr;
  TPoint downAt_;  // in the parent's client coordinates
  int startSize_ = 0;
  int maxSize_ = 0;
};

// A picture in memory, readable from a JPEG file.
class TPicture {
 public:
  const TBitmap& Bitmap() const { return bitmap_; }
  void SetBitmap(const TBitmap& value) { bitmap_ = value; }
  int Width() const { return bitmap_.Width(); }
  int Height() const { return bitmap_.Height(); }
  bool Empty() const { return bitmap_.Empty(); }
  // Reads a JPEG file. On failure (missing, not a JPEG, cut short) the picture is left empty and
  // EInvalidGraphic is raised, or EInOutError when the file cannot be opened.
  void LoadFromFile(const std::string& fileName);
  void Clear() { bitmap_ = TBitmap(); }

 private:
  TBitmap bitmap_;
};

// Decodes JPEG bytes into a picture. False (and an empty picture) when they are not a whole
// JPEG image; error receives the decoder's text.
bool DecodeJpeg(const std::string& data, TBitmap& out, std::string* error);

class TImage : public TGraphicControl {
 public:
  explicit TImage(rtl::TComponent* owner);
  TPicture* Picture() { return &picture_; }
  // Repaints after the picture changed (LoadFromFile through Picture() does not know).
  void PictureChanged();
  // Reads a picture file. The control keeps its size whatever happens; a file that cannot be
  // read leaves an empty picture and raises (see TPicture::LoadFromFile).
  void LoadFromFile(const std::string& fileName);
  bool Stretch = false;
  bool Center = false;
  bool AutoSize = false;
  bool Transparent = false;

 protected:
  void Paint() override;

 private:
  TPicture picture_;
};

class TPaintBox : public TGraphicControl {
 public:
  explicit TPaintBox(rtl::TComponent* owner) : TGraphicControl(owner) {}
  TNotifyEvent OnPaint;

 protected:
  void Paint() override {
    if (OnPaint) OnPaint(this);
  }
};
