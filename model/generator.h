// generator: a pool of values drawn at random and removed, as a doubly linked list.
// Used for cell numbers (generator<int>) and the trial pool (generator<trial*>). The pool owns
// its nodes, never what a value points to. Constructing a pool and init() both reseed the
// program's generator (foundation/random.h) with the time in whole seconds, so a run's draws
// follow from its start time.
#pragma once
#include <ctime>

#include "foundation/random.h"

// Where every reseeding takes its seed: the calendar time in whole seconds. A replay of a
// recorded trial puts the seeds its event log kept here; the live program never changes it.
inline unsigned (*seedsource)() = +[] { return static_cast<unsigned>(time(nullptr)); };
inline unsigned lastseed = 0;  // the seed of the latest reseed(), as passed to seedrandom

// Seeds the program's generator from seedsource and remembers the seed.
inline void reseed() {
  lastseed = seedsource();
  seedrandom(lastseed);
}

template <class T>
class gen_node {
 public:
  T value;         // the stored value
  gen_node* next;  // following node, null at the tail
  gen_node* prev;  // preceding node, null at the head

  explicit gen_node(T v) : value(v), next(nullptr), prev(nullptr) {}
};

template <class T>
class generator {
 public:
  gen_node<T>* head;  // first node, null when empty
  gen_node<T>* tail;  // last node, null when empty
  int size;           // number of nodes

  generator() : head(nullptr), tail(nullptr), size(0) { reseed(); }
  ~generator() { clear(); }
  generator(const generator&) = delete;
  generator& operator=(const generator&) = delete;

  // Forgets the nodes without releasing them; only ever called on an empty pool.
  void init() {
    head = tail = nullptr;
    size = 0;
    reseed();
  }

  void add(T v) {
    gen_node<T>* n = new gen_node<T>(v);
    n->prev = tail;
    if (tail)
      tail->next = n;
    else
      head = n;
    tail = n;
    size++;
  }

  // Adds v unless a node already holds it; true when it was added.
  bool sadd(T v) {
    for (gen_node<T>* n = head; n; n = n->next)
      if (n->value == v) return false;
    add(v);
    return true;
  }

  // Adds a, a + 1, ..., b - 1 in increasing order.
  void fill(int a, int b) {
    for (int i = a; i < b; i++) add(static_cast<T>(i));
  }

  // Unlinks and releases node n of this pool, returning its value.
  T rem(gen_node<T>* n) {
    if (n->prev)
      n->prev->next = n->next;
    else
      head = n->next;
    if (n->next)
      n->next->prev = n->prev;
    else
      tail = n->prev;
    T v = n->value;
    delete n;
    size--;
    return v;
  }

  // Draws a value at random and removes it. An empty pool gives T() and changes nothing,
  // so callers test `size` first.
  T randnum() {
    if (size <= 0) return T();
    int r = randomnumber() % size;
    gen_node<T>* n = head;
    while (r-- > 0) n = n->next;
    return rem(n);
  }

  void clear() {
    while (head) {
      gen_node<T>* n = head->next;
      delete head;
      head = n;
    }
    tail = nullptr;
    size = 0;
  }
};
