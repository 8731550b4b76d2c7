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

#include "model/grid/fast_kernels_sweeps.inc"

#include "model/grid/fast_kernels_tiles.inc"

// One entry point per instruction set. Each compiles the templates of the
// two parts above for its own vector width; the bodies are the same source.
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
