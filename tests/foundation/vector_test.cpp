// vector: w left out, scalars on the left, the signs of the products, and rotations in double.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/vector.h"

// Field by field, so that a faulty operator[] cannot hide a wrong w.
static std::vector<float> fields(vec v) {
  return {v.x, v.y, v.z, v.w};
}

TEST(Vec, ArithmeticCountsWAndProductsAndRotationsFollowTheRightHandRule) {
  const vec a(1, 2, 3, 4), b(2, 4, 8, 16);
  const vec cases[][2] = {
      {a + b, {3, 6, 11, 20}},      {b - a, {1, 2, 5, 12}},   {a * b, {2, 8, 24, 64}},
      {b / a, {2, 2, 8 / 3.0f, 4}}, {a + 1, {2, 3, 4, 5}},    {1 + a, {2, 3, 4, 5}},
      {a - 1, {0, 1, 2, 3}},        {1 - a, {0, -1, -2, -3}}, {a * 2, {2, 4, 6, 8}},
      {2 * a, {2, 4, 6, 8}},        {b / 2, {1, 2, 4, 8}},    {12 / a, {12, 6, 4, 3}}};
  for (const auto& k : cases) EXPECT_EQ(fields(k[0]), fields(k[1]));
  EXPECT_EQ(std::vector<float>({mag(vec(1, 2, 2, 4)), dot(a, b)}), std::vector<float>({5, 98}));
  const std::string out = "error: vec index out of bounds";  // no line end
  testing::internal::CaptureStdout();
  EXPECT_EQ(std::vector<float>({a[0], a[1], a[2], a[3], a[4], a[-1]}),
            std::vector<float>({1, 2, 3, 4, 0, 0}));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), out + out);

  EXPECT_EQ(fields(cross(vec(1, 2, 3, 7), vec(4, 5, 6, 9))), fields(vec(-3, 6, -3, 0)));
  EXPECT_EQ(fields(cross(vec(1, 2, -1, 3), vec(0, 4, 2, -2), vec(5, -1, 1, 1))),
            fields(vec(28, 16, -78, -46)));
  // Worked in double and rounded once: single-precision trig misses by an ulp on these.
  for (float r : {0.1f, 0.7f, 1.3f, 2.9f, -4.4f}) {
    const double c = std::cos(double(r)), s = std::sin(double(r));
    const float p = float(0.3f * c - 0.7f * s), q = float(0.3f * s + 0.7f * c);
    EXPECT_EQ(fields(rotz(vec(0.3f, 0.7f, 0.9f, 5), r)), fields(vec(p, q, 0.9f, 0))) << r;
    EXPECT_EQ(fields(rotx(vec(0.9f, 0.3f, 0.7f, 5), r)), fields(vec(0.9f, p, q, 0))) << r;
    EXPECT_EQ(fields(roty(vec(0.7f, 0.9f, 0.3f, 5), r)), fields(vec(q, 0.9f, p, 0))) << r;
  }
}
