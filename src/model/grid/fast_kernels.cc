// Fast kernels for the grid model. Forward sweep: RK4 on dx/dt = A x + s(t)
// with f_i = s_i(t_s) + sum_j A[i][j]·y_j, the sum running over j ascending
// from 0.0, k = dt·f, y = w + k/2, w + k/2, w + k in turn, and
// w ← (2·k2 + k1 + 2·k3 + k4)/6 + w. Row i's sum only ever meets row i, so
// holding Aᵀ lets one vector instruction advance the sums of several rows by
// the same j: out[i] = Aᵀ[j][i]·y_j + out[i] over a block of i, which is
// the reference order for each lane. The source s_i(t_s) = exp(rate_i·t_s)·
// amp_i is the same in all four stages of step s and in every sweep, so it
// is tabulated once. The adjoint sweep is the same RK4 with f_i = sum_j
// (−A[j][i])·psi_j, where row j of −A is already contiguous in i, and with
// increments (−dt)·f, the measurement jumps added at their nodes in schedule
// order. The gradient G[i][j] = (h/2)·sum_k (p_{k+1} + p_k), p_k =
// psi_i(t_k)·x_j(t_k), h = T/3000, is one sequential sum per entry; the sums
// of different entries are independent, so a vector holds the running sums
// of several j for one i (x stored node-major), the product at each node is
// computed once and serves as the right end of one interval and the left
// end of the next. Halving is multiplication by 0.5 (exact), the sixth
// stays a division, and no product is fused into a sum.
#include "model/grid/fast_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

#include "model/grid/forward_sweep.h"
#include "model/stop_flag.h"

namespace identify {
namespace {

constexpr int kPad = 8;  // row padding: one 512-bit vector of doubles
// Nodes per pass of the gradient: the node-major x and the rows of psi for
// one pass stay in the core's L2 cache while every tile walks them.
constexpr int kNodesPerPass = 128;

template <int W>
struct VecOf {
  typedef double type __attribute__((vector_size(8 * W)));
};

// Unaligned vector load and store. The vector goes by reference: a vector
// passed by value would change the calling convention between the targets.
template <class V>
[[gnu::always_inline]] inline void load(V& v, const double* p) {
  std::memcpy(&v, p, sizeof v);
}

template <class V>
[[gnu::always_inline]] inline void store(double* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

int padded(int n) { return (n + kPad - 1) / kPad * kPad; }

// One RK4 stage over all rows: f = src + M·y (src absent for the adjoint),
// k = h·f, then the stage's own epilogue into out. M is stored in panels
// (see panel_starts): each block of rows streams one contiguous panel.
struct StageArgs {
  int n = 0;
  const int* panels = nullptr;  // panel_count + 1 lane offsets
  int panel_count = 0;
  const double* mat = nullptr;
  const double* y = nullptr;
  const double* src = nullptr;
  double h = 0.0;
  const double* w = nullptr;
  double* k1 = nullptr;
  double* k2 = nullptr;
  double* k3 = nullptr;
  double* out = nullptr;
};

// Rows i0 .. i0 + B·W − 1, whose panel holds n rows of B·W doubles. The B
// running sums stay in registers while j walks the panel.
template <int W, int B, int kStage, bool kSource>
[[gnu::always_inline]] inline void stage_block(const StageArgs& a, int i0) {
  using V = typename VecOf<W>::type;
  V acc[B];
  for (int b = 0; b < B; ++b) acc[b] = V{};
  const double* row = a.mat + static_cast<std::size_t>(a.n) * i0;
  for (int j = 0; j < a.n; ++j, row += B * W) {
    const double yj = a.y[j];
    for (int b = 0; b < B; ++b) {
      V m;
      load(m, row + b * W);
      acc[b] = m * yj + acc[b];
    }
  }
  for (int b = 0; b < B; ++b) {
    const int i = i0 + b * W;
    V f = acc[b];
    if constexpr (kSource) {
      V src;
      load(src, a.src + i);
      f = src + acc[b];
    }
    const V k = a.h * f;
    V w;
    load(w, a.w + i);
    if constexpr (kStage == 1) {
      store(a.k1 + i, k);
      store(a.out + i, w + k * 0.5);
    } else if constexpr (kStage == 2) {
      store(a.k2 + i, k);
      store(a.out + i, w + k * 0.5);
    } else if constexpr (kStage == 3) {
      store(a.k3 + i, k);
      store(a.out + i, w + k);
    } else {
      V k1, k2, k3;
      load(k1, a.k1 + i);
      load(k2, a.k2 + i);
      load(k3, a.k3 + i);
      V u = 2.0 * k2;
      u = u + k1;
      u = u + 2.0 * k3;
      u = u + k;
      u = u / 6.0;
      store(a.out + i, u + w);
    }
  }
}

// A block of `size` vectors, B <= size <= kMaxB; the small sizes are
// tried first, as small systems take the fewest cycles per stage.
template <int W, int B, int kMaxB, int kStage, bool kSource>
[[gnu::always_inline]] inline void stage_block_of(const StageArgs& a, int i0,
                                                  int size) {
  if constexpr (B < kMaxB) {
    if (size != B) {
      stage_block_of<W, B + 1, kMaxB, kStage, kSource>(a, i0, size);
      return;
    }
  }
  stage_block<W, B, kStage, kSource>(a, i0);
}

// Panels in ascending order in stages 1 and 3, descending in 2 and 4: the
// panels one stage touched last are the first the next stage needs.
template <int W, int kMaxB, int kStage, bool kSource>
[[gnu::always_inline]] inline void stage(const StageArgs& a) {
  for (int q = 0; q < a.panel_count; ++q) {
    const int p = (kStage % 2 == 0) ? a.panel_count - 1 - q : q;
    const int i0 = a.panels[p];
    stage_block_of<W, 1, kMaxB, kStage, kSource>(a, i0,
                                                 (a.panels[p + 1] - i0) / W);
  }
}

// The buffers both sweeps work in; all rows padded to np with zeros.
struct SweepBuffers {
  int n = 0;
  int np = 0;
  int steps = 0;
  double dt = 0.0;
  const int* panels = nullptr;
  int panel_count = 0;
  const double* source = nullptr;  // steps × np
  const double* mat = nullptr;     // n × np, in panels
  double* xn = nullptr;            // kNodeCount × np
  double* w = nullptr;
  double* ya = nullptr;
  double* yb = nullptr;
  double* k1 = nullptr;
  double* k2 = nullptr;
  double* k3 = nullptr;
  // The gradient worker read the trajectories of the last iteration, so
  // their cache lines sit in the other core's cache: claim each line for
  // writing well before the sweep stores to it (see claim_line).
  bool claim = false;
  // Ends the sweep early once set (see stop_flag.h). Systems of at most 8
  // components never look: their whole sweep takes well under a millisecond.
  const std::atomic<int>* stop = nullptr;
};

// Steps ahead of the sweep at which trajectory lines are claimed: further
// than a cross-core invalidation takes, near enough to stay in cache.
constexpr int kClaimAhead = 16;

// Prefetch for writing (PREFETCHW where the target has it, a plain
// prefetch elsewhere): the line's copies in other caches are invalidated
// ahead of the store instead of stalling it.
[[gnu::always_inline]] inline void claim_line(const double* p) {
  __builtin_prefetch(p, 1, 3);
}

// Systems of at most 8 components: the whole state is one 8-lane vector
// that stays in registers through all four stages, and y_j reaches every
// lane by a register shuffle instead of a store and a reload. The sums keep
// their order (the fold runs j = 0, 1, ..., N − 1). The matrix is a single
// panel of 8 lanes: M[j][i] at 8·j + i. The broadcast of y_j is
// __builtin_shufflevector with constant indices, which GCC and Clang both
// take.
using Lanes = VecOf<kPad>::type;

template <int... J>
[[gnu::always_inline]] inline void small_matvec(
    const Lanes* m, const Lanes& y, Lanes& acc,
    std::integer_sequence<int, J...>) {
  acc = Lanes{};
  ((acc = m[J] * __builtin_shufflevector(y, y, J, J, J, J, J, J, J, J) + acc),
   ...);
}

template <int... J>
[[gnu::always_inline]] inline void small_store_node(
    const Lanes& w, Trajectory& out, int node,
    std::integer_sequence<int, J...>) {
  ((out[J][node] = w[J]), ...);
}

// w = (2·k2 + k1 + 2·k3 + k4) / 6 + w, summed in the reference order, lane
// by lane. (In place: a vector return value would change the ABI of the
// wider instruction sets.)
[[gnu::always_inline]] inline void rk4_combine(Lanes& w, const Lanes& k1,
                                               const Lanes& k2, const Lanes& k3,
                                               const Lanes& k4) {
  Lanes u = 2.0 * k2;
  u = u + k1;
  u = u + 2.0 * k3;
  u = u + k4;
  u = u / 6.0;
  w = u + w;
}

// Runs f.template operator()<N>() for N = n when n is 1 .. 8 (the systems
// whose state fits one register) and says whether it did.
template <class F>
[[gnu::always_inline]] inline bool with_small_n(int n, F&& f) {
  return [&]<int... K>(std::integer_sequence<int, K...>) {
    return ((n == K + 1 ? (f.template operator()<K + 1>(), true) : false) ||
            ...);
  }
  (std::make_integer_sequence<int, 8>());
}

template <int N>
[[gnu::always_inline]] inline void small_forward(const SweepBuffers& b,
                                                 const double* x0,
                                                 Trajectory& X) {
  constexpr auto js = std::make_integer_sequence<int, N>();
  Lanes m[N];
  for (int j = 0; j < N; ++j) load(m[j], b.mat + j * kPad);
  for (int i = 0; i < N; ++i) b.xn[i] = x0[i];
  Lanes w;
  load(w, b.xn);
  small_store_node(w, X, 0, js);
  const double h = b.dt;
  for (int s = 1; s <= b.steps; ++s) {
    Lanes c, acc;
    load(c, b.source + (s - 1) * kPad);
    small_matvec(m, w, acc, js);
    const Lanes k1 = h * (c + acc);
    small_matvec(m, w + k1 * 0.5, acc, js);
    const Lanes k2 = h * (c + acc);
    small_matvec(m, w + k2 * 0.5, acc, js);
    const Lanes k3 = h * (c + acc);
    small_matvec(m, w + k3, acc, js);
    const Lanes k4 = h * (c + acc);
    rk4_combine(w, k1, k2, k3, k4);
    store(b.xn + s * kPad, w);
    small_store_node(w, X, s, js);
  }
}

template <int N>
[[gnu::always_inline]] inline void small_adjoint(const SweepBuffers& b,
                                                 const double* terminal,
                                                 const Table& H,
                                                 std::span<const Jump> jumps,
                                                 Trajectory& Psi) {
  constexpr auto js = std::make_integer_sequence<int, N>();
  const int steps = b.steps;
  Lanes m[N];
  for (int j = 0; j < N; ++j) load(m[j], b.mat + j * kPad);
  double* w_mem = b.w;
  JumpCursor cursor(jumps, steps);
  // The jumps of `node` into w, in schedule order, through memory.
  auto add_jumps = [&](int node, Lanes& w) {
    if (!cursor.has(node)) return;
    store(w_mem, w);
    cursor.apply(node, H, w_mem);
    load(w, w_mem);
  };
  for (int j = 0; j < N; ++j) w_mem[j] = terminal[j];
  Lanes w;
  load(w, w_mem);
  add_jumps(steps, w);
  small_store_node(w, Psi, steps, js);
  const double h = -b.dt;
  for (int i = 1; i <= steps; ++i) {
    const int node = steps - i;
    Lanes acc;
    small_matvec(m, w, acc, js);
    const Lanes k1 = h * acc;
    small_matvec(m, w + k1 * 0.5, acc, js);
    const Lanes k2 = h * acc;
    small_matvec(m, w + k2 * 0.5, acc, js);
    const Lanes k3 = h * acc;
    small_matvec(m, w + k3, acc, js);
    const Lanes k4 = h * acc;
    rk4_combine(w, k1, k2, k3, k4);
    add_jumps(node, w);
    small_store_node(w, Psi, node, js);
  }
}

// One RK4 step from a.w into `out`: the four stages in turn, the
// intermediate states in the buffers ya and yb.
template <int W, int kMaxB, bool kSource>
[[gnu::always_inline]] inline void rk4_stages(StageArgs& a,
                                              const SweepBuffers& b,
                                              double* out) {
  a.y = a.w;
  a.out = b.ya;
  stage<W, kMaxB, 1, kSource>(a);
  a.y = b.ya;
  a.out = b.yb;
  stage<W, kMaxB, 2, kSource>(a);
  a.y = b.yb;
  a.out = b.ya;
  stage<W, kMaxB, 3, kSource>(a);
  a.y = b.ya;
  a.out = out;
  stage<W, kMaxB, 4, kSource>(a);
}

// mat holds Aᵀ. Node s of the trajectory is row s of xn; the step from
// row s − 1 writes row s, which is then copied into column s of X.
template <int W, int kMaxB>
[[gnu::always_inline]] inline void forward_sweep(const SweepBuffers& b,
                                                 const double* x0,
                                                 Trajectory& X) {
  if (with_small_n(b.n, [&]<int N>() { small_forward<N>(b, x0, X); })) {
    return;
  }
  const int n = b.n;
  const std::size_t np = b.np;
  for (int i = 0; i < n; ++i) {
    b.xn[i] = x0[i];
    X[i][0] = x0[i];
  }
  StageArgs a;
  a.n = n;
  a.panels = b.panels;
  a.panel_count = b.panel_count;
  a.mat = b.mat;
  a.h = b.dt;
  a.k1 = b.k1;
  a.k2 = b.k2;
  a.k3 = b.k3;
  for (int s = 1; s <= b.steps; ++s) {
    if (s % kStopCheckInterval == 0 && stop_requested(b.stop)) return;
    double* next = b.xn + s * np;
    a.w = next - np;
    a.src = b.source + (s - 1) * np;
    rk4_stages<W, kMaxB, true>(a, b, next);
    for (int i = 0; i < n; ++i) X[i][s] = next[i];
    if (b.claim && s + kClaimAhead <= b.steps) {
      const double* ahead = next + kClaimAhead * np;
      for (std::size_t l = 0; l < np; l += kPad) claim_line(ahead + l);
    }
  }
}

// mat holds −A. The state w is updated in place: stage 4 reads and writes
// only its own lanes of w. Systems of more than 8 components only (see
// adjoint_avx512 for why this is a function of its own).
template <int W, int kMaxB>
[[gnu::always_inline]] inline void adjoint_sweep(const SweepBuffers& b,
                                                 const double* terminal,
                                                 const Table& H,
                                                 std::span<const Jump> jumps,
                                                 Trajectory& Psi) {
  const int n = b.n;
  const int steps = b.steps;
  double* w = b.w;
  JumpCursor cursor(jumps, steps);
  for (int j = 0; j < n; ++j) w[j] = terminal[j];
  cursor.apply(steps, H, w);
  for (int j = 0; j < n; ++j) Psi[j][steps] = w[j];
  StageArgs a;
  a.n = n;
  a.panels = b.panels;
  a.panel_count = b.panel_count;
  a.mat = b.mat;
  a.h = -b.dt;
  a.w = w;
  a.k1 = b.k1;
  a.k2 = b.k2;
  a.k3 = b.k3;
  for (int i = 1; i <= steps; ++i) {
    if (i % kStopCheckInterval == 0 && stop_requested(b.stop)) return;
    const int node = steps - i;
    rk4_stages<W, kMaxB, false>(a, b, w);
    cursor.apply(node, H, w);
    for (int j = 0; j < n; ++j) Psi[j][node] = w[j];
    // Every 8 steps (one cache line of a Psi row), the lines
    // kClaimAhead nodes further down.
    if (b.claim && i % kPad == 0 && node >= kClaimAhead) {
      for (int j = 0; j < n; ++j) claim_line(Psi[j] + node - kClaimAhead);
    }
  }
}

// The quadratures of one tile, R rows i × C vectors of W columns j, over
// nodes [k_begin, k_end). sum and prev hold each entry's running sum and the
// product at the node before k_begin; a tile that starts at node 0 first
// forms the products there.
struct QuadArgs {
  int np = 0;
  const double* xn = nullptr;  // kNodeCount × np, node-major x
  const Trajectory* psi = nullptr;
  double* sum = nullptr;                   // n × np
  double* prev = nullptr;                  // n × np
  const std::atomic<int>* stop = nullptr;  // looked at once per pass
};

template <int W, int R, int C>
[[gnu::always_inline]] inline void quad_tile(const QuadArgs& q, int i0, int j0,
                                             int k_begin, int k_end) {
  using V = typename VecOf<W>::type;
  const std::size_t np = q.np;
  const double* psi[R];
  for (int r = 0; r < R; ++r) psi[r] = (*q.psi)[i0 + r];
  V s[R][C];
  V pp[R][C];
  if (k_begin == 0) {
    for (int c = 0; c < C; ++c) {
      V x;
      load(x, q.xn + j0 + c * W);
      for (int r = 0; r < R; ++r) {
        s[r][c] = V{};
        pp[r][c] = psi[r][0] * x;
      }
    }
    k_begin = 1;
  } else {
    for (int r = 0; r < R; ++r) {
      for (int c = 0; c < C; ++c) {
        const std::size_t e = (i0 + r) * np + j0 + c * W;
        load(s[r][c], q.sum + e);
        load(pp[r][c], q.prev + e);
      }
    }
  }
  const double* xk = q.xn + k_begin * np + j0;
  for (int k = k_begin; k < k_end; ++k, xk += np) {
    V x[C];
    for (int c = 0; c < C; ++c) load(x[c], xk + c * W);
    for (int r = 0; r < R; ++r) {
      const double pk = psi[r][k];
      for (int c = 0; c < C; ++c) {
        const V p = pk * x[c];
        s[r][c] = (p + pp[r][c]) + s[r][c];
        pp[r][c] = p;
      }
    }
  }
  for (int r = 0; r < R; ++r) {
    for (int c = 0; c < C; ++c) {
      const std::size_t e = (i0 + r) * np + j0 + c * W;
      store(q.sum + e, s[r][c]);
      store(q.prev + e, pp[r][c]);
    }
  }
}

template <int W, int R, int C>
[[gnu::always_inline]] inline void quad_tile_of(const QuadArgs& q, int i0,
                                                int j0, int rows, int vecs,
                                                int k_begin, int k_end) {
  if constexpr (R > 1) {
    if (rows < R) {
      quad_tile_of<W, R - 1, C>(q, i0, j0, rows, vecs, k_begin, k_end);
      return;
    }
  }
  if constexpr (C > 1) {
    if (vecs < C) {
      quad_tile_of<W, R, C - 1>(q, i0, j0, rows, vecs, k_begin, k_end);
      return;
    }
  }
  quad_tile<W, R, C>(q, i0, j0, k_begin, k_end);
}

// Row blocks [first, last) of R rows over all nodes, pass by pass; with
// kLookAtStop, ends early once the stop flag is set.
template <int W, int R, int C, bool kLookAtStop>
[[gnu::always_inline]] inline void quad_rows(const QuadArgs& q, int n,
                                             int first, int last) {
  const int nvec = q.np / W;
  for (int k0 = 0; k0 < kNodeCount; k0 += kNodesPerPass) {
    if constexpr (kLookAtStop) {
      if (stop_requested(q.stop)) return;
    }
    const int k1 = std::min(k0 + kNodesPerPass, kNodeCount);
    for (int blk = first; blk < last; ++blk) {
      const int i0 = blk * R;
      const int rows = std::min(R, n - i0);
      for (int v = 0; v < nvec; v += C) {
        quad_tile_of<W, R, C>(q, i0, v * W, rows, std::min(C, nvec - v), k0,
                              k1);
      }
    }
  }
}

// How each instruction set cuts the work: W lanes per vector, at most
// kMaxB vectors of rows per sweep panel (all kept in registers), and
// gradient tiles of R rows × C vectors.
struct Shape {
  int width;
  int max_block;
  int rows;
  int vecs;
};
constexpr Shape kAvx512{8, 12, 4, 2};
constexpr Shape kAvx2{4, 12, 2, 2};
constexpr Shape kBaseline{2, 12, 2, 2};

constexpr const Shape& shape_of(VectorIsa isa) {
  return isa == VectorIsa::kAvx512 ? kAvx512
         : isa == VectorIsa::kAvx2 ? kAvx2
                                   : kBaseline;
}

// Lanes [0, np) cut into panels, sized evenly so that no panel is left with
// a short chain of sums. While the whole matrix fits in the L1 data cache
// one panel holds up to max_block vectors; beyond that, panels of 32 lanes
// walked in alternating order (see stage) let each stage find the panels
// the previous stage touched last still in L1. Returns the panel offsets
// and np at the end. Panel p, lanes [s, e), stores n rows of e − s doubles
// from offset n·s on: M[j][i] sits at n·s + j·(e − s) + (i − s).
std::vector<int> panel_starts(int n, int np, const Shape& shape) {
  constexpr std::size_t kL1Budget = 32 * 1024;  // bytes of matrix in L1
  constexpr int kStreamedLanes = 32;
  const bool fits =
      static_cast<std::size_t>(n) * np * sizeof(double) <= kL1Budget;
  const int max_block =
      fits ? shape.max_block
           : std::min(shape.max_block, kStreamedLanes / shape.width);
  const int nvec = np / shape.width;
  const int panels = (nvec + max_block - 1) / max_block;
  std::vector<int> starts = {0};
  int v = 0;
  for (int p = 0; p < panels; ++p) {
    v += (nvec - v) / (panels - p);
    starts.push_back(v * shape.width);
  }
  return starts;
}

// M[j][i] = value(j, i) for i, j < n into the panel layout; the padding
// lanes keep their zeros.
template <class Value>
void fill_panels(int n, const std::vector<int>& starts, double* m,
                 Value value) {
  for (std::size_t p = 0; p + 1 < starts.size(); ++p) {
    const int s = starts[p];
    const int width = starts[p + 1] - s;
    const int e = std::min(starts[p + 1], n);
    double* panel = m + static_cast<std::size_t>(n) * s;
    for (int j = 0; j < n; ++j) {
      for (int i = s; i < e; ++i) panel[j * width + (i - s)] = value(j, i);
    }
  }
}

// One entry point per instruction set. Each compiles the templates above
// for its own vector width; the bodies are the same source.
[[gnu::target("avx512f,prfchw")]] void forward_avx512(const SweepBuffers& b,
                                                      const double* x0,
                                                      Trajectory& X) {
  forward_sweep<kAvx512.width, kAvx512.max_block>(b, x0, X);
}
[[gnu::target("avx2")]] void forward_avx2(const SweepBuffers& b,
                                          const double* x0, Trajectory& X) {
  forward_sweep<kAvx2.width, kAvx2.max_block>(b, x0, X);
}
void forward_baseline(const SweepBuffers& b, const double* x0, Trajectory& X) {
  forward_sweep<kBaseline.width, kBaseline.max_block>(b, x0, X);
}

// The adjoint sweep of more than 8 components is a function of its own, so
// that its look at the stop flag does not change how the compiler allocates
// registers in the small systems' loop (one instruction more per step).
[[gnu::target("avx512f,prfchw"), gnu::noinline]] void adjoint_large_avx512(
    const SweepBuffers& b, const double* terminal, const Table& H,
    std::span<const Jump> jumps, Trajectory& Psi) {
  adjoint_sweep<kAvx512.width, kAvx512.max_block>(b, terminal, H, jumps, Psi);
}
[[gnu::target("avx512f,prfchw")]] void adjoint_avx512(
    const SweepBuffers& b, const double* terminal, const Table& H,
    std::span<const Jump> jumps, Trajectory& Psi) {
  if (!with_small_n(b.n, [&]<int N>() {
        small_adjoint<N>(b, terminal, H, jumps, Psi);
      })) {
    adjoint_large_avx512(b, terminal, H, jumps, Psi);
  }
}
[[gnu::target("avx2"), gnu::noinline]] void adjoint_large_avx2(
    const SweepBuffers& b, const double* terminal, const Table& H,
    std::span<const Jump> jumps, Trajectory& Psi) {
  adjoint_sweep<kAvx2.width, kAvx2.max_block>(b, terminal, H, jumps, Psi);
}
[[gnu::target("avx2")]] void adjoint_avx2(const SweepBuffers& b,
                                          const double* terminal,
                                          const Table& H,
                                          std::span<const Jump> jumps,
                                          Trajectory& Psi) {
  if (!with_small_n(b.n, [&]<int N>() {
        small_adjoint<N>(b, terminal, H, jumps, Psi);
      })) {
    adjoint_large_avx2(b, terminal, H, jumps, Psi);
  }
}
[[gnu::noinline]] void adjoint_large_baseline(const SweepBuffers& b,
                                              const double* terminal,
                                              const Table& H,
                                              std::span<const Jump> jumps,
                                              Trajectory& Psi) {
  adjoint_sweep<kBaseline.width, kBaseline.max_block>(b, terminal, H, jumps,
                                                      Psi);
}
void adjoint_baseline(const SweepBuffers& b, const double* terminal,
                      const Table& H, std::span<const Jump> jumps,
                      Trajectory& Psi) {
  if (!with_small_n(b.n, [&]<int N>() {
        small_adjoint<N>(b, terminal, H, jumps, Psi);
      })) {
    adjoint_large_baseline(b, terminal, H, jumps, Psi);
  }
}

// The quadratures of more than 8 components look at the stop flag once per
// pass, in a function of their own for the same reason as the adjoint sweep;
// those of at most 8 components take microseconds and never look.
[[gnu::target("avx512f,prfchw"), gnu::noinline]] void quad_large_avx512(
    const QuadArgs& q, int n, int first, int last) {
  quad_rows<kAvx512.width, kAvx512.rows, kAvx512.vecs, true>(q, n, first, last);
}
[[gnu::target("avx512f,prfchw")]] void quad_avx512(const QuadArgs& q, int n,
                                                   int first, int last) {
  if (n > kPad) return quad_large_avx512(q, n, first, last);
  quad_rows<kAvx512.width, kAvx512.rows, kAvx512.vecs, false>(q, n, first,
                                                              last);
}
[[gnu::target("avx2"), gnu::noinline]] void quad_large_avx2(const QuadArgs& q,
                                                            int n, int first,
                                                            int last) {
  quad_rows<kAvx2.width, kAvx2.rows, kAvx2.vecs, true>(q, n, first, last);
}
[[gnu::target("avx2")]] void quad_avx2(const QuadArgs& q, int n, int first,
                                       int last) {
  if (n > kPad) return quad_large_avx2(q, n, first, last);
  quad_rows<kAvx2.width, kAvx2.rows, kAvx2.vecs, false>(q, n, first, last);
}
[[gnu::noinline]] void quad_large_baseline(const QuadArgs& q, int n, int first,
                                           int last) {
  quad_rows<kBaseline.width, kBaseline.rows, kBaseline.vecs, true>(q, n, first,
                                                                   last);
}
void quad_baseline(const QuadArgs& q, int n, int first, int last) {
  if (n > kPad) return quad_large_baseline(q, n, first, last);
  quad_rows<kBaseline.width, kBaseline.rows, kBaseline.vecs, false>(q, n, first,
                                                                    last);
}

}  // namespace

VectorIsa best_vector_isa() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f")) return VectorIsa::kAvx512;
  if (__builtin_cpu_supports("avx2")) return VectorIsa::kAvx2;
  return VectorIsa::kBaseline;
}

FastKernels::AlignedBuffer::AlignedBuffer(std::size_t count)
    : storage_(count + kPad, 0.0) {
  void* p = storage_.data();
  std::size_t space = storage_.size() * sizeof(double);
  data_ = static_cast<double*>(
      std::align(kPad * sizeof(double), count * sizeof(double), p, space));
}

FastKernels::FastKernels(int n, double T, double dt,
                         std::span<const double> amp,
                         std::span<const double> rate,
                         const FastKernelOptions& options)
    : n_(n),
      np_(padded(n)),
      steps_(step_count(T, dt)),
      T_(T),
      dt_(dt),
      isa_(std::min(options.isa, best_vector_isa())),
      panels_(panel_starts(n, np_, shape_of(isa_))),
      source_(static_cast<std::size_t>(steps_) * np_),
      mat_(static_cast<std::size_t>(n) * np_),
      xn_(static_cast<std::size_t>(kNodeCount) * np_),
      w_(np_),
      ya_(np_),
      yb_(np_),
      k1_(np_),
      k2_(np_),
      k3_(np_),
      sum_(static_cast<std::size_t>(n) * np_),
      prev_(static_cast<std::size_t>(n) * np_) {
  const std::size_t np = np_;
  for (int s = 1; s <= steps_; ++s) {
    const double t = static_cast<double>(s) * dt;
    double* row = source_.data() + (s - 1) * np;
    for (int i = 0; i < n; ++i) row[i] = std::exp(rate[i] * t) * amp[i];
  }
  const int rows = shape_of(isa_).rows;
  blocks_ = (n + rows - 1) / rows;
  split_ = (blocks_ + 1) / 2;
  int threads = options.gradient_threads;
  if (threads == 0) {
    threads = n >= kGradientThreadThreshold &&
                      std::thread::hardware_concurrency() >= 2
                  ? 2
                  : 1;
  }
  if (threads >= 2 && blocks_ >= 2) {
    try {
      worker_ = std::thread(&FastKernels::worker_loop, this);
    } catch (const std::system_error&) {
      // No second thread available: gradient() runs on the caller's thread.
    }
  }
}

FastKernels::~FastKernels() {
  if (worker_.joinable()) {
    stop_.store(true, std::memory_order_release);
    start_.fetch_add(1, std::memory_order_acq_rel);
    start_.notify_one();
    worker_.join();
  }
}

void FastKernels::forward(const double* x0, const Matrix& A, Trajectory& X,
                          const std::atomic<int>* stop) {
  fill_panels(n_, panels_, mat_.data(), [&A](int j, int i) { return A[i][j]; });
  sweep(false, x0, nullptr, {}, X, stop);
}

void FastKernels::adjoint(const double* terminal, const Matrix& A,
                          const Table& H, std::span<const Jump> jumps,
                          Trajectory& Psi, const std::atomic<int>* stop) {
  fill_panels(n_, panels_, mat_.data(),
              [&A](int j, int i) { return -A[j][i]; });
  sweep(true, terminal, &H, jumps, Psi, stop);
}

void FastKernels::sweep(bool adjoint, const double* start, const Table* H,
                        std::span<const Jump> jumps, Trajectory& out,
                        const std::atomic<int>* stop) {
  SweepBuffers b;
  b.n = n_;
  b.np = np_;
  b.steps = steps_;
  b.dt = dt_;
  b.panels = panels_.data();
  b.panel_count = static_cast<int>(panels_.size()) - 1;
  b.source = source_.data();
  b.mat = mat_.data();
  b.xn = xn_.data();
  b.w = w_.data();
  b.ya = ya_.data();
  b.yb = yb_.data();
  b.k1 = k1_.data();
  b.k2 = k2_.data();
  b.k3 = k3_.data();
  b.claim = worker_.joinable();
  b.stop = stop;
  switch (isa_) {
    case VectorIsa::kAvx512:
      adjoint ? adjoint_avx512(b, start, *H, jumps, out)
              : forward_avx512(b, start, out);
      break;
    case VectorIsa::kAvx2:
      adjoint ? adjoint_avx2(b, start, *H, jumps, out)
              : forward_avx2(b, start, out);
      break;
    case VectorIsa::kBaseline:
      adjoint ? adjoint_baseline(b, start, *H, jumps, out)
              : forward_baseline(b, start, out);
      break;
  }
}

void FastKernels::load_trajectory(const Trajectory& X) {
  const std::size_t np = np_;
  double* xn = xn_.data();
  for (int k = 0; k < kNodeCount; ++k) {
    for (int i = 0; i < n_; ++i) xn[k * np + i] = X[i][k];
  }
}

void FastKernels::gradient_rows(int first_block, int last_block) {
  QuadArgs q{np_, xn_.data(), job_psi_, sum_.data(), prev_.data(), job_stop_};
  switch (isa_) {
    case VectorIsa::kAvx512:
      quad_avx512(q, n_, first_block, last_block);
      break;
    case VectorIsa::kAvx2:
      quad_avx2(q, n_, first_block, last_block);
      break;
    case VectorIsa::kBaseline:
      quad_baseline(q, n_, first_block, last_block);
      break;
  }
}

void FastKernels::worker_loop() {
  unsigned seen = 0;
  for (;;) {
    start_.wait(seen, std::memory_order_acquire);
    seen = start_.load(std::memory_order_acquire);
    if (stop_.load(std::memory_order_acquire)) return;
    gradient_rows(split_, blocks_);
    done_.store(seen, std::memory_order_release);
    done_.notify_one();
  }
}

void FastKernels::gradient(const Trajectory& Psi, Matrix& G,
                           const std::atomic<int>* stop) {
  job_psi_ = &Psi;
  job_stop_ = stop;
  if (worker_.joinable()) {
    const unsigned job = start_.load(std::memory_order_relaxed) + 1;
    start_.store(job, std::memory_order_release);
    start_.notify_one();
    gradient_rows(0, split_);
    for (unsigned d = done_.load(std::memory_order_acquire); d != job;
         d = done_.load(std::memory_order_acquire)) {
      done_.wait(d, std::memory_order_acquire);
    }
  } else {
    gradient_rows(0, blocks_);
  }
  // gradient_entry's (h/2)·s with h = T/(kNodeCount − 1).
  const double h = T_ / static_cast<double>(kNodeCount - 1);
  const double half_h = h / 2.0;
  const std::size_t np = np_;
  const double* sum = sum_.data();
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) G[i][j] = half_h * sum[i * np + j];
  }
}

}  // namespace identify
