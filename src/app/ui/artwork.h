#pragma once
#include <QFont>
#include <QPixmap>

// The window's pictures and font. The pictures are drawn here at start-up
// rather than shipped as image files, so every one has exactly the size its
// place in the window leaves for it.
namespace ravelin::ui {

inline constexpr int kTickWidth = 15, kTickHeight = 14;
inline constexpr int kArrowWidth = 32, kArrowHeight = 53;
inline constexpr int kLogoWidth = 154, kLogoHeight = 24;

// The "required" tick: green with a dark blue shadow, transparent around it.
const QPixmap& TickPicture();
// Between the two meters: from what is left to send to what has been delivered.
const QPixmap& ArrowPicture();
// The maker's mark in the bottom right corner.
const QPixmap& LogoPicture();

// Machines without Arial get Liberation Sans, which has Arial's widths, so the
// texts fit the cells they were measured for. Call before the first window.
void InstallFontSubstitutes();
// The window's font: Arial with a character height of `pixels`.
QFont WindowFont(int pixels = 12);

} // namespace ravelin::ui
