// Fast forward sweep, adjoint sweep and gradient quadratures for the grid
// model. Each produces exactly the doubles of the plain reference functions
// (solve_forward, solve_adjoint, gradient_entry): every sum keeps its order
// and every rounding step stays in place. The speed comes from vectorising
// across independent rows instead of along a sum, from a source table
// computed once per run, and from spreading the N² quadratures over two
// threads when N is large enough to pay for the hand-over.
#pragma once

#include <atomic>
#include <cstddef>
#include <span>
#include <thread>
#include <vector>

#include "core/table.h"
#include "core/vector_isa.h"
#include "model/grid/adjoint_sweep.h"

namespace identify {

// The N at and above which gradient() uses two threads by default. Below
// it the second thread loses more than it saves: it sleeps through both
// sweeps and takes tens of microseconds to wake, and the trajectories it
// reads must cross between the cores' caches twice per iteration (to the
// worker, and back for the next sweep to write them), which costs the
// sweeps about as much as halving the quadratures saves up to N ≈ 100.
inline constexpr int kGradientThreadThreshold = 112;

struct FastKernelOptions {
  // Narrowed to best_vector_isa() when the CPU lacks the requested set.
  VectorIsa isa = VectorIsa::kAvx512;
  // 0: two threads when N >= kGradientThreadThreshold and the machine has
  // two hardware threads, else one. 1 or 2: that many, whatever N.
  int gradient_threads = 0;
};

// Which implementation of the sweeps and quadratures a grid model runs.
// kFast (vectorised, tabulated source, threaded quadratures) and kPlain (the
// reference functions) produce identical doubles; kPlain is kept to check
// and to measure the fast path against.
enum class Kernels { kFast, kPlain };

// Work buffers and precomputed tables for one model: N components, final
// time T and grid step dt (as for solve_forward), source amplitudes and
// rates. Everything is sized here; forward(), adjoint() and gradient()
// allocate nothing. Not copyable; owns a worker thread when gradient()
// uses two.
class FastKernels {
 public:
  FastKernels(int n, double T, double dt, std::span<const double> amp,
              std::span<const double> rate,
              const FastKernelOptions& options = {});
  ~FastKernels();
  FastKernels(const FastKernels&) = delete;
  FastKernels& operator=(const FastKernels&) = delete;

  VectorIsa isa() const { return isa_; }
  int gradient_threads() const { return worker_.joinable() ? 2 : 1; }

  // The same X as solve_forward(N, T, dt, x0, A, amp, rate, X, scratch),
  // bit for bit. Also keeps a node-major copy of X for gradient().
  // forward(), adjoint() and gradient() end early, their outputs
  // incomplete, once *stop is nonzero (see stop_flag.h); null: never.
  void forward(const double* x0, const Matrix& A, Trajectory& X,
               const std::atomic<int>* stop = nullptr);

  // The same Psi as solve_adjoint(N, T, dt, terminal, A, H, jumps, Psi,
  // scratch), bit for bit.
  void adjoint(const double* terminal, const Matrix& A, const Table& H,
               std::span<const Jump> jumps, Trajectory& Psi,
               const std::atomic<int>* stop = nullptr);

  // Replaces the node-major copy kept by forward() with X (nodes 0 .. 3000).
  void load_trajectory(const Trajectory& X);

  // G[i][j] = gradient_entry(T, kNodeCount, Psi[i], X[j]) for every i, j,
  // bit for bit, with X the trajectory of the last forward() or
  // load_trajectory(). Psi has N rows of kNodeCount doubles.
  void gradient(const Trajectory& Psi, Matrix& G,
                const std::atomic<int>* stop = nullptr);

 private:
  // A run of doubles whose first element sits on a 64-byte boundary, so
  // that every padded row starts a cache line.
  class AlignedBuffer {
   public:
    explicit AlignedBuffer(std::size_t count);
    double* data() { return data_; }
    const double* data() const { return data_; }

   private:
    std::vector<double> storage_;
    double* data_ = nullptr;
  };

  // The forward sweep from x0 = start into X, or the adjoint sweep from
  // terminal = start with jumps from H into Psi, on the matrix in mat_.
  void sweep(bool adjoint, const double* start, const Table* H,
             std::span<const Jump> jumps, Trajectory& out,
             const std::atomic<int>* stop);
  // Gradient entries of the row blocks [first, last) over every node.
  void gradient_rows(int first_block, int last_block);
  void worker_loop();

  int n_;      // N
  int np_;     // N rounded up to a multiple of 8: the padded row length
  int steps_;  // step_count(T, dt)
  double T_, dt_;
  VectorIsa isa_;
  std::vector<int> panels_;  // lane offsets of the sweep matrix panels
  AlignedBuffer source_;  // steps_ × np_: row s−1 holds exp(rate·t_s)·amp
  AlignedBuffer mat_;     // N × np_: Aᵀ (forward) or −A (adjoint)
  AlignedBuffer xn_;      // kNodeCount × np_: the forward trajectory
  AlignedBuffer w_, ya_, yb_, k1_, k2_, k3_;  // np_ each
  AlignedBuffer sum_, prev_;  // N × np_: running sums, last node products

  // Gradient job handed to the worker: row blocks [split_, blocks_).
  const Trajectory* job_psi_ = nullptr;
  const std::atomic<int>* job_stop_ = nullptr;
  int blocks_ = 0;
  int split_ = 0;
  std::atomic<unsigned> start_{0};
  std::atomic<unsigned> done_{0};
  std::atomic<bool> stop_{false};
  std::thread worker_;
};

}  // namespace identify
