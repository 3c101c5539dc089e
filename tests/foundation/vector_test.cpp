// vector: where a four-float type most easily goes wrong: w left out of the arithmetic, scalars
// on the left, the signs of the products and rotations, and the rotations' precision.
#include <gtest/gtest.h>

#include <cmath>

#include "foundation/vector.h"

namespace {

void expectvec(vec v, float x, float y, float z, float w) {
  EXPECT_NEAR(v.x, x, 1e-6);
  EXPECT_NEAR(v.y, y, 1e-6);
  EXPECT_NEAR(v.z, z, 1e-6);
  EXPECT_NEAR(v.w, w, 1e-6);
}

TEST(Vec, ArithmeticReachesWAndKeepsScalarOrder) {
  expectvec(vec(1, 2), 1, 2, 0, 0);
  expectvec(vec(1, 2, 3), 1, 2, 3, 0);
  vec v(1, 2, 3, 4);
  expectvec(v + 1, 2, 3, 4, 5);
  expectvec(1 - v, 0, -1, -2, -3);
  expectvec(v - 1, 0, 1, 2, 3);
  expectvec(12 / v, 12, 6, 4, 3);
  expectvec(vec(2, 6, 12, 20) / v * v, 2, 6, 12, 20);
  (v += vec(1, 1, 1, 1)) *= 2;  // compound assignments return the target itself
  expectvec(v, 4, 6, 8, 10);
}

TEST(Vec, LengthsAndProductsCountW) {
  EXPECT_FLOAT_EQ(mag(vec(1, 2, 2, 4)), 5);
  EXPECT_FLOAT_EQ(dot(vec(1, 2, 3, 4), vec(1, 1, 1, 1)), 10);
  EXPECT_FLOAT_EQ(dist(vec(1, 1, 1, 1), vec(2, 3, 3, 5)), 5);
  expectvec(norm(vec(0, 3, 0, 4)), 0, 0.6f, 0, 0.8f);
  expectvec(cross(vec(1, 0, 0, 7), vec(0, 1, 0, 9)), 0, 0, 1, 0);
  expectvec(cross(vec(1, 0, 0), vec(0, 1, 0), vec(0, 0, 1)), 0, 0, 0, -1);
  vec u(1, 2, -1, 3), v(0, 4, 2, -2), t(5, -1, 1, 1), n = cross(u, v, t);
  for (vec a : {u, v, t}) EXPECT_NEAR(dot(n, a), 0, 1e-4);
}

TEST(Vec, RotationsFollowTheRightHandRuleInDouble) {
  const float quarter = 1.57079637f;
  expectvec(rotz(vec(1, 0, 0, 5), quarter), 0, 1, 0, 0);
  expectvec(rotx(vec(0, 1, 0, 0), quarter), 0, 0, 1, 0);
  expectvec(roty(vec(0, 0, 1, 0), quarter), 1, 0, 0, 0);
  // Worked in double and rounded once; single-precision trig misses by an ulp on these.
  for (float a : {0.1f, 0.7f, 1.3f, 2.9f, -4.4f}) {
    double c = std::cos(double(a)), s = std::sin(double(a));
    vec p = rotz(vec(0.3f, 0.7f, 0.9f), a);
    EXPECT_EQ(p.x, float(0.3f * c - 0.7f * s)) << a;
    EXPECT_EQ(p.y, float(0.3f * s + 0.7f * c)) << a;
  }
}

TEST(Vec, AbsFlipsOnlyNegativesAndIndexIsChecked) {
  vec a = abs(vec(-1, -0.0f, 2, -3));
  expectvec(a, 1, 0, 2, 3);
  EXPECT_TRUE(std::signbit(a.y));
  vec v(1, 2, 3, 4);
  EXPECT_EQ(v[3], 4);
  for (int bad : {4, -1}) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(v[bad], 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error: vec index out of bounds");
  }
}

}  // namespace
