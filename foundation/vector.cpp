// vector: the arithmetic of `vec`; see vector.h.
// Everything here is a pure function of its arguments. Single precision throughout, except the
// rotations, which work in double and round once, so that the camera's steering stays exact
// after many small turns.
#include "foundation/vector.h"

#include <cmath>
#include <cstdio>

vec::vec() : x(0), y(0), z(0), w(0) {}
vec::vec(float a) : x(a), y(0), z(0), w(0) {}
vec::vec(float a, float b) : x(a), y(b), z(0), w(0) {}
vec::vec(float a, float b, float c) : x(a), y(b), z(c), w(0) {}
vec::vec(float a, float b, float c, float d) : x(a), y(b), z(c), w(d) {}

vec& vec::operator+=(vec b) {
  return *this = *this + b;
}
vec& vec::operator-=(vec b) {
  return *this = *this - b;
}
vec& vec::operator*=(vec b) {
  return *this = *this * b;
}
vec& vec::operator/=(vec b) {
  return *this = *this / b;
}
vec& vec::operator+=(float s) {
  return *this = *this + s;
}
vec& vec::operator-=(float s) {
  return *this = *this - s;
}
vec& vec::operator*=(float s) {
  return *this = *this * s;
}
vec& vec::operator/=(float s) {
  return *this = *this / s;
}

float vec::operator[](int i) const {
  switch (i) {
    case 0:
      return x;
    case 1:
      return y;
    case 2:
      return z;
    case 3:
      return w;
  }
  fputs("error: vec index out of bounds", stdout);
  return 0;
}

vec operator+(vec a, vec b) {
  return vec(a.x + b.x, a.y + b.y, a.z + b.z, a.w + b.w);
}
vec operator-(vec a, vec b) {
  return vec(a.x - b.x, a.y - b.y, a.z - b.z, a.w - b.w);
}
vec operator*(vec a, vec b) {
  return vec(a.x * b.x, a.y * b.y, a.z * b.z, a.w * b.w);
}
vec operator/(vec a, vec b) {
  return vec(a.x / b.x, a.y / b.y, a.z / b.z, a.w / b.w);
}
vec operator+(vec v, float s) {
  return vec(v.x + s, v.y + s, v.z + s, v.w + s);
}
vec operator-(vec v, float s) {
  return vec(v.x - s, v.y - s, v.z - s, v.w - s);
}
vec operator*(vec v, float s) {
  return vec(v.x * s, v.y * s, v.z * s, v.w * s);
}
vec operator/(vec v, float s) {
  return vec(v.x / s, v.y / s, v.z / s, v.w / s);
}
vec operator+(float s, vec v) {
  return vec(s + v.x, s + v.y, s + v.z, s + v.w);
}
vec operator-(float s, vec v) {
  return vec(s - v.x, s - v.y, s - v.z, s - v.w);
}
vec operator*(float s, vec v) {
  return vec(s * v.x, s * v.y, s * v.z, s * v.w);
}
vec operator/(float s, vec v) {
  return vec(s / v.x, s / v.y, s / v.z, s / v.w);
}

vec abs(vec v) {
  // A plain comparison leaves -0 and NaN as they are.
  if (v.x < 0) v.x = -v.x;
  if (v.y < 0) v.y = -v.y;
  if (v.z < 0) v.z = -v.z;
  if (v.w < 0) v.w = -v.w;
  return v;
}

float mag(vec v) {
  float sum = v.x * v.x + v.y * v.y + v.z * v.z + v.w * v.w;
  return static_cast<float>(std::sqrt(static_cast<double>(sum)));
}

vec norm(vec v) {
  return v / mag(v);
}

float dot(vec a, vec b) {
  return a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
}

float dist(vec a, vec b) {
  return mag(b - a);
}

vec cross(vec a, vec b) {
  return vec(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0);
}

vec cross(vec u, vec v, vec t) {
  // The 2x2 minors of v and t, shared by the four cofactor expansions along u.
  float A = v.z * t.w - v.w * t.z;
  float B = v.y * t.w - v.w * t.y;
  float C = v.y * t.z - v.z * t.y;
  float D = v.x * t.w - v.w * t.x;
  float E = v.x * t.z - v.z * t.x;
  float F = v.x * t.y - v.y * t.x;
  return vec(u.y * A - u.z * B + u.w * C, u.z * D - u.x * A - u.w * E, u.x * B - u.y * D + u.w * F,
             u.y * E - u.x * C - u.z * F);
}

vec rotx(vec v, float angle) {
  double c = std::cos(static_cast<double>(angle)), s = std::sin(static_cast<double>(angle));
  double y = v.y, z = v.z;
  return vec(v.x, static_cast<float>(y * c - z * s), static_cast<float>(y * s + z * c), 0);
}

vec roty(vec v, float angle) {
  double c = std::cos(static_cast<double>(angle)), s = std::sin(static_cast<double>(angle));
  double x = v.x, z = v.z;
  return vec(static_cast<float>(x * c + z * s), v.y, static_cast<float>(z * c - x * s), 0);
}

vec rotz(vec v, float angle) {
  double c = std::cos(static_cast<double>(angle)), s = std::sin(static_cast<double>(angle));
  double x = v.x, y = v.y;
  return vec(static_cast<float>(x * c - y * s), static_cast<float>(x * s + y * c), v.z, 0);
}
