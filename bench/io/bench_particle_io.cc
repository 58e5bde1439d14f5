// Write and read rates of one particle file per format through the snapshot
// engine, next to plain stdio and memcpy moving the same number of bytes.
// Both wall and CPU time (of task 0) are shown: on a shared machine the wall
// figures are noisy, the CPU figures show what the code itself costs.
// Reads are timed twice: "read" from the page cache the write left behind,
// "cold" after the file's pages were dropped from it, so that the disk is read.
// A reader fills particle records several times the size of the file, so a
// plain fread of the bytes is not a reachable mark for it; the "plain reader"
// rows show the simplest loop that fills the records from the same data.
//
//   bench/io/bench_particle_io [--n N] [--dir DIR] [--reps R]
//   mpiexec -n 2 bench/io/bench_particle_io --n 2000000
#include <fcntl.h>
#include <mpi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "data/allvars.h"
#include "data/mymalloc.h"
#include "data/simparticles.h"
#include "io/hdf5_util.h"
#include "io/snap_io.h"
#include "io/tool_startup.h"
#include "mpi_utils/shared_mem_handler.h"

namespace
{
struct stamp
{
  double wall, cpu;
};

stamp now()
{
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return {MPI_Wtime(), t.tv_sec + 1e-9 * t.tv_nsec};
}

struct timing
{
  double wall = 1e30, cpu = 1e30;  // best of the repetitions
  void add(stamp a, stamp b)
  {
    wall = std::min(wall, b.wall - a.wall);
    cpu  = std::min(cpu, b.cpu - a.cpu);
  }
};

// n particles over the tasks, the first half gas, the rest collisionless,
// individual masses: every field of the file is present.
void fill_particles(simparticles &Sp, long long n)
{
  int ntask, task;
  MPI_Comm_size(Sp.Communicator, &ntask);
  MPI_Comm_rank(Sp.Communicator, &task);
  long long first = n * task / ntask, last = n * (task + 1) / ntask;
  int nloc = (int)(last - first), ngas = (int)std::max(0LL, std::min(last, n / 2) - first);
  Sp.MaxPart    = std::max(1, nloc);
  Sp.MaxPartSph = std::max(1, ngas);
  Sp.allocate_memory();
  for(int t = 0; t < NTYPES; t++)
    All.MassTable[t] = 0;
  double center[3] = {0.5, 0.5, 0.5};
  Sp.set_region(center, 2.0);
  unsigned s = 12345 + task;
  auto rnd   = [&s]() { return (s = s * 1103515245u + 12345u) / 4294967296.0; };
  for(int i = 0; i < nloc; i++)
    {
      particle_data &p = Sp.P[i];
      double pos[3]    = {rnd(), rnd(), rnd()};
      Sp.pos_to_intpos(pos, p.IntPos);
      for(int k = 0; k < 3; k++)
        p.Vel[k] = rnd() - 0.5;
      p.setType(i < ngas ? 0 : 1);
      p.setMass(1.0 / n);
      p.ID.set((MyIDType)(first + i + 1));
      p.Metallicity = 0.02;
      if(i < ngas)
        {
          Sp.SphP[i].Entropy = 1 + rnd();
          Sp.SphP[i].Density = 1;
          Sp.SphP[i].Hsml    = 0.01;
          Sp.SphP[i].Ne      = 1;
        }
    }
  Sp.NumPart    = nloc;
  Sp.NumGas     = ngas;
  Sp.TotNumPart = n;
  Sp.TotNumGas  = n / 2;
}

void empty_particles(simparticles &Sp)
{
  Sp.free_memory();
  Sp.P          = nullptr;
  Sp.SphP       = nullptr;
  Sp.NumPart    = 0;
  Sp.NumGas     = 0;
  Sp.TotNumPart = 0;
  Sp.TotNumGas  = 0;
}

void check_count(simparticles &Sp, MPI_Comm comm, long long n)
{
  long long got = Sp.NumPart;
  MPI_Allreduce(MPI_IN_PLACE, &got, 1, MPI_LONG_LONG, MPI_SUM, comm);
  if(got != n)
    {
      fprintf(stderr, "read %lld particles back, wrote %lld\n", got, n);
      MPI_Abort(MPI_COMM_WORLD, 1);
    }
}

long long file_size(const std::string &name)
{
  struct stat st;
  return stat(name.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

void print_row(const char *what, const char *dir, double bytes, long long n, const timing &t)
{
  double mb = bytes / (1024.0 * 1024.0);
  printf("%-22s %-5s %8.1f %8.3f %8.3f %9.1f %9.1f", what, dir, mb, t.wall, t.cpu, mb / t.wall, mb / t.cpu);
  if(n > 0)
    printf(" %10.3g", n / t.wall);
  printf("\n");
}

// Drops the file's pages from the page cache so that the next read goes to
// the disk. Only clean pages can be dropped, hence the sync first.
void evict(const std::string &name)
{
  int fd = open(name.c_str(), O_RDONLY);
  if(fd < 0)
    {
      perror(name.c_str());
      return;
    }
  if(fdatasync(fd) != 0)
    perror(name.c_str());
  if(int err = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED))
    fprintf(stderr, "posix_fadvise(%s): %s\n", name.c_str(), strerror(err));
  close(fd);
}

struct ref_timings
{
  long long bytes = 0;
  timing write_sync, read, cold;
};

// Plain stdio with the same 32 MiB pieces the engine uses.
ref_timings reference(const std::string &name, long long bytes, int reps)
{
  const size_t piece = 32u << 20;
  std::vector<char> buf(std::min<long long>(bytes, piece)), copy(bytes), src(bytes);
  for(long long i = 0; i < bytes; i++)
    src[i] = (char)i;
  memset(buf.data(), 1, buf.size());
  memset(copy.data(), 0, copy.size());

  timing w, ws, r, rc, m;
  for(int rep = 0; rep < reps; rep++)
    {
      stamp a  = now();
      FILE *fd = fopen(name.c_str(), "w");
      if(!fd)
        {
          perror(name.c_str());
          exit(1);
        }
      for(long long done = 0; done < bytes; done += piece)
        fwrite(buf.data(), 1, std::min<long long>(piece, bytes - done), fd);
      fflush(fd);
      stamp b = now();
      fsync(fileno(fd));
      fclose(fd);
      stamp c = now();
      w.add(a, b);
      ws.add(a, c);

      a  = now();
      fd = fopen(name.c_str(), "r");
      for(long long done = 0; done < bytes; done += piece)
        if(fread(buf.data(), 1, std::min<long long>(piece, bytes - done), fd) == 0)
          break;
      fclose(fd);
      r.add(a, now());

      evict(name);
      a  = now();
      fd = fopen(name.c_str(), "r");
      for(long long done = 0; done < bytes; done += piece)
        if(fread(buf.data(), 1, std::min<long long>(piece, bytes - done), fd) == 0)
          break;
      fclose(fd);
      rc.add(a, now());

      a = now();
      memcpy(copy.data(), src.data(), bytes);
      m.add(a, now());
    }
  unlink(name.c_str());
  print_row("fwrite", "write", bytes, 0, w);
  print_row("fwrite+fsync", "write", bytes, 0, ws);
  print_row("fread", "read", bytes, 0, r);
  print_row("fread", "cold", bytes, 0, rc);
  print_row("memcpy", "copy", bytes, 0, m);

  ref_timings t;
  t.bytes      = bytes;
  t.write_sync = ws;
  t.read       = r;
  t.cold       = rc;
  return t;
}

// The simplest reader that leaves the particles as the engine does, next to
// which the engine is measured on reading: the same quantities as one raw file
// of field blocks (no header, markers or labels), fread in 4 MiB pieces into
// cleared storage with one plain loop per field, the positions then moved into
// the integer frame. It checks nothing and knows the layout in advance.
struct plain_reader
{
  static constexpr size_t PIECE = 4u << 20;
  long long n, ngas;
  std::string name;
  long long bytes = 0;

  void write()
  {
    FILE *fd = fopen(name.c_str(), "w");
    if(!fd)
      {
        perror(name.c_str());
        exit(1);
      }
    unsigned s = 777;
    auto rnd   = [&s]() { return (float)((s = s * 1103515245u + 12345u) / 4294967296.0); };
    std::vector<float> f;
    for(int v = 0; v < 2; v++)  // positions, velocities
      {
        f.resize(3 * n);
        for(auto &x : f)
          x = rnd();
        fwrite(f.data(), sizeof(float), f.size(), fd);
      }
    std::vector<MyIDType> id(n);
    for(long long i = 0; i < n; i++)
      id[i] = (MyIDType)(i + 1);
    fwrite(id.data(), sizeof(MyIDType), n, fd);
    for(int b = 0; b < 2; b++)  // masses, metallicities
      {
        f.assign(n, 1.0f / n);
        fwrite(f.data(), sizeof(float), n, fd);
      }
    for(int b = 0; b < 5; b++)  // energy, density, smoothing length, SFR, electrons
      {
        f.assign(ngas, 1.0f);
        fwrite(f.data(), sizeof(float), ngas, fd);
      }
    if(fflush(fd) != 0 || fsync(fileno(fd)) != 0 || fclose(fd) != 0)
      perror(name.c_str());
    bytes = file_size(name);
  }

  // Calls put(i, value pointer) for elements 0..count-1 of a block of
  // count * per values of type T, read piece by piece.
  template <class T, class F>
  static void block(FILE *fd, std::vector<char> &buf, long long count, int per, F put)
  {
    long long chunk = (long long)(PIECE / (sizeof(T) * per));
    for(long long first = 0; first < count; first += chunk)
      {
        long long k = std::min(chunk, count - first);
        if(fread(buf.data(), sizeof(T) * per, k, fd) != (size_t)k)
          {
            fprintf(stderr, "plain reader: short read\n");
            MPI_Abort(MPI_COMM_WORLD, 1);
          }
        const T *v = reinterpret_cast<const T *>(buf.data());
        for(long long i = 0; i < k; i++)
          put(first + i, v + i * per);
      }
  }

  void read(simparticles &Sp, std::vector<char> &buf)
  {
    Sp.MaxPart    = (int)(n / 0.6);
    Sp.MaxPartSph = (int)(ngas / 0.6);
    Sp.allocate_memory();
    particle_data *P      = Sp.P;
    sph_particle_data *S  = Sp.SphP;
    double lo[3]          = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    FILE *fd              = fopen(name.c_str(), "r");
    block<float>(fd, buf, n, 3, [&](long long i, const float *v) {
      double x[3] = {v[0], v[1], v[2]};
      for(int k = 0; k < 3; k++)
        {
          lo[k] = std::min(lo[k], x[k]);
          hi[k] = std::max(hi[k], x[k]);
        }
      memcpy(P[i].IntPos, x, sizeof(x));  // staged until the frame is known
      P[i].Type = i < ngas ? 0 : 1;
    });
    block<float>(fd, buf, n, 3, [&](long long i, const float *v) {
      for(int k = 0; k < 3; k++)
        P[i].Vel[k] = v[k];
    });
    block<MyIDType>(fd, buf, n, 1, [&](long long i, const MyIDType *v) { P[i].ID.set(*v); });
    block<float>(fd, buf, n, 1, [&](long long i, const float *v) { P[i].Mass = *v; });
    block<float>(fd, buf, n, 1, [&](long long i, const float *v) { P[i].Metallicity = *v; });
    block<float>(fd, buf, ngas, 1, [&](long long i, const float *v) { S[i].Entropy = *v; });
    block<float>(fd, buf, ngas, 1, [&](long long i, const float *v) { S[i].Density = *v; });
    block<float>(fd, buf, ngas, 1, [&](long long i, const float *v) { S[i].Hsml = *v; });
    block<float>(fd, buf, ngas, 1, [&](long long i, const float *v) { S[i].Sfr = *v; });
    block<float>(fd, buf, ngas, 1, [&](long long i, const float *v) { S[i].Ne = *v; });
    fclose(fd);

    double len = 0, center[3];
    for(int k = 0; k < 3; k++)
      {
        len       = std::max(len, hi[k] - lo[k]);
        center[k] = 0.5 * (lo[k] + hi[k]);
      }
    Sp.set_region(center, 4 * len);
    for(long long i = 0; i < n; i++)
      {
        double x[3];
        memcpy(x, P[i].IntPos, sizeof(x));
        Sp.pos_to_intpos(x, P[i].IntPos);
      }
    Sp.NumPart = (int)n;
    Sp.NumGas  = (int)ngas;
  }
};

// Engine rate as a percentage of the stdio rate; the files differ in size
// from the reference file, so rates are compared, not times.
double percent(long long bytes, const timing &t, long long ref_bytes, const timing &ref)
{
  return 100.0 * ((double)bytes / t.wall) / ((double)ref_bytes / ref.wall);
}
}  // namespace

int main(int argc, char **argv)
{
  MPI_Init(&argc, &argv);

  long long n     = 1000000;
  std::string dir = "/tmp";
  int reps        = 3;
  for(int i = 1; i + 1 < argc; i += 2)
    {
      if(!strcmp(argv[i], "--n"))
        n = atoll(argv[i + 1]);
      else if(!strcmp(argv[i], "--dir"))
        dir = argv[i + 1];
      else if(!strcmp(argv[i], "--reps"))
        reps = atoi(argv[i + 1]);
    }
  if(n < 2 || reps < 1)
    {
      fprintf(stderr, "usage: %s [--n N>=2] [--dir DIR] [--reps R>=1]\n", argv[0]);
      MPI_Abort(MPI_COMM_WORLD, 2);
    }

  // Room for the particle storage as sized on reading (1/0.6 of the count)
  // and the engine's 32 MiB buffers.
  double per     = (double)n / 0.6 * (sizeof(particle_data) + sizeof(sph_particle_data) + 64);
  All.MaxMemSize = (int)(per / (1 << 20)) + 160;
  snprintf(All.OutputDir, sizeof(All.OutputDir), "%s/", dir.c_str());
  All.UnitLength_in_cm         = 3.085678e21;
  All.UnitMass_in_g            = 1.989e43;
  All.UnitVelocity_in_cm_per_s = 1e5;
  All.UnitTime_in_s            = All.UnitLength_in_cm / All.UnitVelocity_in_cm_per_s;
  All.UnitDensity_in_cgs       = All.UnitMass_in_g / pow(All.UnitLength_in_cm, 3);
  All.NumFilesPerSnapshot      = 1;
  All.MaxFilesWithConcurrentIO = 0;
  All.Time = All.TimeBegin = 0;
  // a lossless copy: every stored field is written and read back as held
  All.RestartFlag = RST_CONVERTSNAP;
  All.set_cosmo_factors_for_current_time();

  MPI_Comm comm = tool_start_islands();
  tool_start_memory(comm);

  static simparticles Sp(comm);
  tool_start_particles(Sp);

  int ntask, task;
  MPI_Comm_size(comm, &ntask);
  MPI_Comm_rank(comm, &task);
  if(Shmem.World_ThisTask == 0)
    printf("\n%lld particles (half gas), %d task(s), best of %d, files in %s\n\n%-22s %-5s %8s %8s %8s %9s %9s %10s\n", n, ntask, reps,
           dir.c_str(), "case", "dir", "MB", "wall s", "cpu s", "MB/s wall", "MB/s cpu", "part/s");

  // Reading sizes the storage with room for imbalance and clears it. The
  // first touch of that fresh memory is paid once per run; it is measured
  // here on its own, so the read rows below show the engine on touched memory.
  timing touch, clear;
  double touched = 0, cleared = 0;
  {
    long long nloc = (n + ntask - 1) / ntask;
    Sp.MaxPart     = (int)(nloc / 0.6);
    Sp.MaxPartSph  = (int)(nloc / 2 / 0.6);
    MPI_Barrier(comm);
    stamp a = now();
    Sp.allocate_memory();
    MPI_Barrier(comm);
    touch.add(a, now());
    touched = (double)Sp.MaxPart * sizeof(particle_data) + (double)Sp.MaxPartSph * sizeof(sph_particle_data);

    // The least any reader has to do: write the records of the particles it
    // reads (here a memset on touched memory); the file is a fraction of that.
    for(int rep = 0; rep < reps; rep++)
      {
        MPI_Barrier(comm);
        a = now();
        memset(static_cast<void *>(Sp.P), 1, nloc * sizeof(particle_data));
        memset(static_cast<void *>(Sp.SphP), 1, nloc / 2 * sizeof(sph_particle_data));
        MPI_Barrier(comm);
        clear.add(a, now());
      }
    cleared = (double)nloc * sizeof(particle_data) + (double)(nloc / 2) * sizeof(sph_particle_data);
    empty_particles(Sp);
  }

  // A write of n particles and a read back, each timed into its own row
  // (nullptr: untimed).
  auto write_set = [&](int format, const std::string &base, timing *t) {
    fill_particles(Sp, n);
    {
      snap_io out(&Sp, comm, format);
      out.init_basic(&Sp);
      MPI_Barrier(comm);
      stamp a = now();
      out.write_file_set(base.c_str());
      MPI_Barrier(comm);
      if(t)
        t->add(a, now());
    }
    empty_particles(Sp);
  };
  auto read_set = [&](int format, const std::string &base, timing *t) {
    {
      snap_io in(&Sp, comm, format);
      in.init_basic(&Sp);
      MPI_Barrier(comm);
      stamp a = now();
      in.read_ic(base.c_str());
      MPI_Barrier(comm);
      if(t)
        t->add(a, now());
    }
    check_count(Sp, comm, n);
    empty_particles(Sp);
  };

  // One untimed round first: the first snapshot of a process runs markedly
  // slower (fresh page-cache and allocator state), which would make the first
  // format's rows depend on their place in the table.
  {
    std::string base = dir + "/bench_particle_io_warmup";
    write_set(1, base, nullptr);
    read_set(1, base, nullptr);
    if(task == 0)
      unlink(base.c_str());
  }

  long long largest = 0;
  timing fw[4], fr[4], fc[4];
  long long fbytes[4] = {0, 0, 0, 0};
  for(int format = 1; format <= 3; format++)
    {
      std::string base = dir + "/bench_particle_io_f" + std::to_string(format);
      std::string name = base + (format == 3 ? ".hdf5" : "");
      timing &w = fw[format], &r = fr[format], &c = fc[format];
      long long bytes = 0;
      for(int rep = 0; rep < reps; rep++)
        {
          write_set(format, base, &w);
          read_set(format, base, &r);
          // one task writes the single file, so one eviction covers it
          if(task == 0)
            evict(name);
          read_set(format, base, &c);
          bytes = file_size(name);
        }
      fbytes[format] = bytes;
      if(Shmem.World_ThisTask == 0)
        {
          char what[32];
          snprintf(what, sizeof(what), "format %d", format);
          print_row(what, "write", bytes, n, w);
          print_row(what, "read", bytes, n, r);
          print_row(what, "cold", bytes, n, c);
          unlink(name.c_str());
          char bak[MAXLEN_PATH_EXTRA];
          snprintf(bak, sizeof(bak), "%s/bak-bench_particle_io_f%d%s", dir.c_str(), format, format == 3 ? ".hdf5" : "");
          unlink(bak);
        }
      largest = std::max(largest, bytes);
    }

  if(Shmem.World_ThisTask == 0)
    {
      print_row("first touch of storage", "alloc", touched, 0, touch);
      print_row("memset of the records", "mem", cleared, n / ntask, clear);
      ref_timings ref = reference(dir + "/bench_particle_io_ref", largest, reps);

      // all n particles into the storage of this task
      plain_reader plain{n, n / 2, dir + "/bench_particle_io_plain"};
      plain.write();
      std::vector<char> pbuf(plain_reader::PIECE);
      timing pr, pc;
      for(int rep = 0; rep < reps; rep++)
        {
          stamp a = now();
          plain.read(Sp, pbuf);
          pr.add(a, now());
          empty_particles(Sp);
          evict(plain.name);
          a = now();
          plain.read(Sp, pbuf);
          pc.add(a, now());
          empty_particles(Sp);
        }
      unlink(plain.name.c_str());
      print_row("plain reader, 1 task", "read", plain.bytes, n, pr);
      print_row("plain reader, 1 task", "cold", plain.bytes, n, pc);

      printf("\nengine MB/s as %% of the plain MB/s (wall)\n%-22s %12s %12s %12s %12s %12s\n", "case", "write/fsync", "read/fread",
             "cold/fread", "read/plain", "cold/plain");
      for(int format = 1; format <= 3; format++)
        {
          char what[32];
          snprintf(what, sizeof(what), "format %d", format);
          printf("%-22s %11.0f%% %11.0f%% %11.0f%% %11.0f%% %11.0f%%\n", what,
                 percent(fbytes[format], fw[format], ref.bytes, ref.write_sync), percent(fbytes[format], fr[format], ref.bytes, ref.read),
                 percent(fbytes[format], fc[format], ref.bytes, ref.cold), percent(fbytes[format], fr[format], plain.bytes, pr),
                 percent(fbytes[format], fc[format], plain.bytes, pc));
        }
    }

  if(Shmem.Island_ThisTask == 0 && Shmem.listeners_in_use())
    Shmem.release_listener();
  MPI_Finalize();
  return 0;
}
