// vector: the places where a four-float type most easily goes wrong: w left out of the
// arithmetic, scalars on the left, the sign conventions of the products and rotations.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "foundation/vector.h"

namespace {

void expectvec(vec v, float x, float y, float z, float w) {
  EXPECT_FLOAT_EQ(v.x, x);
  EXPECT_FLOAT_EQ(v.y, y);
  EXPECT_FLOAT_EQ(v.z, z);
  EXPECT_FLOAT_EQ(v.w, w);
}

TEST(Vec, ConstructorsFillFromTheFrontAndZeroTheRest) {
  expectvec(vec(), 0, 0, 0, 0);
  expectvec(vec(1), 1, 0, 0, 0);
  expectvec(vec(1, 2), 1, 2, 0, 0);
  expectvec(vec(1, 2, 3), 1, 2, 3, 0);
  expectvec(vec(1, 2, 3, 4), 1, 2, 3, 4);
}

TEST(Vec, ArithmeticReachesWAndKeepsScalarOrder) {
  vec v(1, 2, 3, 4);
  expectvec(v + 1, 2, 3, 4, 5);
  expectvec(v - 1, 0, 1, 2, 3);
  expectvec(1 - v, 0, -1, -2, -3);
  expectvec(12 / v, 12, 6, 4, 3);
  expectvec(v / 2, 0.5f, 1, 1.5f, 2);
  expectvec(v * vec(2, 3, 4, 5), 2, 6, 12, 20);
  expectvec(vec(2, 6, 12, 20) / v, 2, 3, 4, 5);
  vec a = v;
  (a += vec(1, 1, 1, 1)) *= 2;  // compound assignments return the target itself
  expectvec(a, 4, 6, 8, 10);
  a -= 1;
  a /= vec(3, 5, 7, 9);
  expectvec(a, 1, 1, 1, 1);
}

TEST(Vec, LengthsAndProductsCountW) {
  EXPECT_FLOAT_EQ(mag(vec(1, 2, 2, 4)), 5);
  EXPECT_FLOAT_EQ(dot(vec(1, 2, 3, 4), vec(1, 1, 1, 1)), 10);
  EXPECT_FLOAT_EQ(dist(vec(1, 1, 1, 1), vec(2, 3, 3, 5)), 5);
  expectvec(norm(vec(0, 3, 0, 4)), 0, 0.6f, 0, 0.8f);
  EXPECT_TRUE(std::isnan(norm(vec()).w));
  expectvec(cross(vec(1, 0, 0, 7), vec(0, 1, 0, 9)), 0, 0, 1, 0);
  expectvec(cross(vec(1, 0, 0), vec(0, 1, 0), vec(0, 0, 1)), 0, 0, 0, -1);
  vec u(1, 2, -1, 3), v(0, 4, 2, -2), t(5, -1, 1, 1);
  vec n = cross(u, v, t);
  EXPECT_NEAR(dot(n, u), 0, 1e-4);
  EXPECT_NEAR(dot(n, v), 0, 1e-4);
  EXPECT_NEAR(dot(n, t), 0, 1e-4);
}

TEST(Vec, RotationsFollowTheRightHandRuleAndDropW) {
  const float quarter = 1.57079637f;
  vec r = rotz(vec(1, 0, 0, 5), quarter);
  EXPECT_NEAR(r.x, 0, 1e-6);
  expectvec(vec(0, r.y, r.z, r.w), 0, 1, 0, 0);
  r = rotx(vec(0, 1, 0, 0), quarter);
  EXPECT_NEAR(r.y, 0, 1e-6);
  EXPECT_FLOAT_EQ(r.z, 1);
  r = roty(vec(0, 0, 1, 0), quarter);
  EXPECT_FLOAT_EQ(r.x, 1);
  EXPECT_NEAR(r.z, 0, 1e-6);
  // Worked in double and rounded once: the camera's steering depends on it staying exact.
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
  EXPECT_TRUE(std::isnan(abs(vec(NAN)).x));

  vec v(1, 2, 3, 4);
  EXPECT_EQ(v[0], 1);
  EXPECT_EQ(v[3], 4);
  for (int bad : {4, -1}) {
    testing::internal::CaptureStdout();
    float got = v[bad];
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "error: vec index out of bounds");
    EXPECT_EQ(got, 0);
  }
}

}  // namespace
