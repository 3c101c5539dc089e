// vector: the four-float value type `vec` and its arithmetic.
// Owns element-wise arithmetic, length, products and the axis rotations; knows nothing of GL.
// Every operation is a pure function of its inputs; `w` takes part in all element-wise
// arithmetic, while the 3-D operations (two-argument cross, rotations) return w = 0.
#pragma once

struct vec {
  float x;  // component 0
  float y;  // component 1
  float z;  // component 2
  float w;  // component 3

  vec();
  explicit vec(float a);
  vec(float a, float b);
  vec(float a, float b, float c);
  vec(float a, float b, float c, float d);

  vec& operator+=(vec b);
  vec& operator-=(vec b);
  vec& operator*=(vec b);
  vec& operator/=(vec b);
  vec& operator+=(float s);
  vec& operator-=(float s);
  vec& operator*=(float s);
  vec& operator/=(float s);

  // Component i by value; any i outside 0..3 prints "error: vec index out of bounds" and gives 0.
  float operator[](int i) const;
};

vec operator+(vec a, vec b);
vec operator-(vec a, vec b);
vec operator*(vec a, vec b);
vec operator/(vec a, vec b);
vec operator+(vec v, float s);
vec operator-(vec v, float s);
vec operator*(vec v, float s);
vec operator/(vec v, float s);
vec operator+(float s, vec v);
vec operator-(float s, vec v);
vec operator*(float s, vec v);
vec operator/(float s, vec v);

vec abs(vec v);                  // flips the sign of components that compare below 0
float mag(vec v);                // length over all four components
vec norm(vec v);                 // v / mag(v)
float dot(vec a, vec b);         // four-component dot product
float dist(vec a, vec b);        // mag(b - a)
vec cross(vec a, vec b);         // 3-D cross product, w = 0
vec cross(vec u, vec v, vec t);  // 4-D cross product, orthogonal to u, v and t
vec rotx(vec v, float angle);    // about the x axis, radians, right-hand rule, w = 0
vec roty(vec v, float angle);    // about the y axis
vec rotz(vec v, float angle);    // about the z axis
