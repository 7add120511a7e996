// Points, sizes and rectangles in points, with the arithmetic of a size or a point and a
// scalar (applied to both coordinates alike).
// Thread safety: value types; one owner at a time, const access from any thread.
#pragma once

namespace vantelkit {

struct Point {
  double x = 0;
  double y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

struct Rect {
  Point origin;
  Size size;
  bool operator==(const Rect&) const = default;
};

inline Size operator+(Size size, double scalar) { return {size.width + scalar, size.height + scalar}; }
inline Size operator-(Size size, double scalar) { return {size.width - scalar, size.height - scalar}; }
inline Size operator*(Size size, double scalar) { return {size.width * scalar, size.height * scalar}; }
inline Size operator/(Size size, double scalar) { return {size.width / scalar, size.height / scalar}; }
inline Point operator+(Point point, double scalar) { return {point.x + scalar, point.y + scalar}; }
inline Point operator-(Point point, double scalar) { return {point.x - scalar, point.y - scalar}; }
inline Point operator*(Point point, double scalar) { return {point.x * scalar, point.y * scalar}; }
inline Point operator/(Point point, double scalar) { return {point.x / scalar, point.y / scalar}; }

}  // namespace vantelkit
