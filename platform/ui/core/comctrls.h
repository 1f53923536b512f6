// The common controls: image lists, page controls with tab sheets, tool bars with tool buttons
// and the header control. Ownership and threads as for every control
// (control.h); an image list is a plain component.
#pragma once

#include <string>
#include <vector>

#include "platform/ui/core/control.h"
#include "rtl/classes.h"

// Pictures of one size, drawn by index.
class TCustomImageList : public rtl::TComponent {
 public:
  explicit TCustomImageList(rtl::TComponent* owner) : rtl::TComponent(owner) {}
  int Width = 16;
  int Height = 16;
  int Count() const { return static_cast<int>(images_.size()); }
  // Adds the picture, cut into Width-wide pieces when it is wider; returns the first index.
  int Add(const TBitmap& image);
  // Like Add, with every pixel of maskColor (0x00RRGGBB) transparent.
  int AddMasked(const TBitmap& image, uint32_t maskColor);
  void Delete(int index);
  void Clear() { images_.clear(); }
  // REQUIRES: 0 <= index < Count().
  const TBitmap& Image(int index) const { return images_[index]; }
  // Draws image index at x, y (greyed when not enabled); nothing for an index out of range.
  void Draw(TCanvas* canvas, int x, int y, int index, bool enabled = true) const;

 private:
  std::vector<TBitmap> images_;
};

class TImageList : public TCustomImageList {
 public:
  using TCustomImageList::TCustomImageList;
};

class TPageControl;

// A page of a page control. Only the active page is visible.
class TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(rtl::TComponent* owner);
  ~TTabSheet() override;
  TPageControl* PageControl() const { return pageControl_; }
  // Puts the sheet on a page control (at its end) or takes it off (null).
  void SetPageControl(TPageControl* value);
  int PageIndex() const;
  bool TabVisible = true;
  int ImageIndex = -1;
  // A control of this page is to get the focus: the page becomes the active one.
  void ShowForFocus() override;
  using TControl::Canvas;

 private:
  friend class TPageControl;
  TPageControl* pageControl_ = nullptr;
};

using TTabChangingEvent = std::function<void(rtl::TObject* Sender, bool& AllowChange)>;

class TPageControl : public TWinControl {
 public:
  explicit TPageControl(rtl::TComponent* owner);
  ~TPageControl() override;
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* Pages(int index) const { return pages_[index]; }
  TTabSheet* ActivePage() const { return active_; }
  // Shows page (hides the others). Code changes fire no OnChanging or OnChange.
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const;
  void SetActivePageIndex(int index);
  TCustomImageList* Images = nullptr;
  int TabHeight = 20;
  // The tab of the visible page under client point p, or null.
  TTabSheet* TabAt(TPoint p) const;
  TRect TabRect(const TTabSheet* page) const;
  // The area the active page fills.
  TRect DisplayRect() const;
  TTabChangingEvent OnChanging;
  TNotifyEvent OnChange;

 protected:
  void AlignControls(TRect& rect) override;
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void KeyDown(WORD& Key, TShiftState Shift) override;

 private:
  friend class TTabSheet;
  // The user's choice: OnChanging may refuse; OnChange after the change.
  void ChangeTo(TTabSheet* page);
  std::vector<TTabSheet*> pages_;
  TTabSheet* active_ = nullptr;
};

enum TToolButtonStyle { tbsButton, tbsCheck, tbsSeparator, tbsDivider };

class TToolButton : public TGraphicControl {
 public:
  explicit TToolButton(rtl::TComponent* owner);
  TToolButtonStyle Style = tbsButton;
  int ImageIndex = -1;
  bool Down() const { return down_; }
  void SetDown(bool value);
  // A check button toggles Down, then OnClick.
  void Click() override;

 protected:
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  // A button put on, taken off or shown on a tool bar has the bar lay out its buttons again.
  void ParentChanged() override { RealignBar(); }
  void VisibleChanged() override { RealignBar(); }

 private:
  void RealignBar();
  bool down_ = false;
  bool pressed_ = false;
};

// Lays its tool buttons out left to right in the order they were put on it: buttons
// ButtonWidth x ButtonHeight, separators as wide as their Width.
class TToolBar : public TWinControl {
 public:
  explicit TToolBar(rtl::TComponent* owner);
  int ButtonWidth = 23;
  int ButtonHeight = 22;
  TCustomImageList* Images = nullptr;
  TCustomImageList* DisabledImages = nullptr;
  bool Flat = true;
  int ButtonCount() const;
  TToolButton* Buttons(int index) const;

 protected:
  void AlignControls(TRect& rect) override;
};

class THeaderControl;

class THeaderSection : public rtl::TCollectionItem {
 public:
  explicit THeaderSection(rtl::TCollection* c) : rtl::TCollectionItem(c) {}
  std::string Text;
  int Width() const { return width_; }
  void SetWidth(int value);
  int MinWidth = 0;
  int MaxWidth = 10000;
  TAlignment Alignment = taLeftJustify;
  // Client x of the section's left and right edges.
  int Left() const;
  int Right() const { return Left() + width_; }

 private:
  int width_ = 50;
};

class THeaderSections : public rtl::TCollection {
 public:
  explicit THeaderSections(THeaderControl* header);
  THeaderSection* Add() { return static_cast<THeaderSection*>(rtl::TCollection::Add()); }
  THeaderSection* Items(int index) const {
    return static_cast<THeaderSection*>(rtl::TCollection::Items(index));
  }
  THeaderControl* Header() const { return header_; }

 protected:
  void Update(rtl::TCollectionItem* item) override;

 private:
  THeaderControl* header_;
};

using TSectionNotifyEvent = std::function<void(THeaderControl* Sender, THeaderSection* Section)>;

// Column titles in sections. Dragging a section's right edge sizes it (OnSectionTrack while
// dragging, OnSectionResize at the end); a click on a section fires OnSectionClick.
class THeaderControl : public TWinControl {
 public:
  explicit THeaderControl(rtl::TComponent* owner);
  THeaderSections* Sections() { return &sections_; }
  // The section whose span holds client x, or null.
  THeaderSection* SectionAt(int x) const;
  TSectionNotifyEvent OnSectionClick;
  TSectionNotifyEvent OnSectionResize;
  TSectionNotifyEvent OnSectionTrack;
  TCursor CursorAt(TPoint p) const override;

 protected:
  void Paint() override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
  void MouseMove(TShiftState Shift, int X, int Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;

 private:
  // The section whose right edge lies within a few pixels of x, or null.
  THeaderSection* EdgeAt(int x) const;
  THeaderSections sections_;
  THeaderSection* sizing_ = nullptr;
  THeaderSection* pressed_ = nullptr;
  int sizeStartX_ = 0;
  int sizeStartWidth_ = 0;
};
