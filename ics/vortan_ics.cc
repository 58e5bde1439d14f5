// vortan-ics: writes initial conditions (Plummer sphere, adiabatic gas-sphere
// collapse, blast-wave lattice) in any particle-file format, converts particle
// files between formats, and dumps them as text.
#include <mpi.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
// Memory region of convert and dump, which do not know the particle number
// before the region is set up.
const int CONVERT_MAXMEM_MB = 256;

struct options
{
  std::string cmd, in, out;
  int format = 3, from = 0, to = 0, files = 1, concurrent = 0, seed = 42, maxmem = 0;
  long long n   = -1;
  double mass   = 1, radius = 1, energy = 1, G = -1;
  double ul = 3.085678e21, um = 1.989e43, uv = 1e5;
  bool units_given = false;
};

double gravity_constant(const options &o)
{
  if(o.G > 0)
    return o.G;
  return GRAVITY / (o.ul * o.ul * o.ul) * o.um * pow(o.ul / o.uv, 2);
}

// The defaults are printed from an options object, so the text cannot drift
// from what the program does.
void print_usage(FILE *out)
{
  const options d;
  fprintf(out,
          "usage: vortan-ics MODEL OUTBASE [options]        write initial conditions\n"
          "       vortan-ics convert INBASE OUTBASE --from F --to F [--files K]\n"
          "       vortan-ics dump INBASE --from F            print particles sorted by ID (lines \"P id type x y z vx vy vz mass u "
          "rho hsml z ne\")\n"
          "\n"
          "MODEL:\n"
          "  plummer    Plummer sphere of collisionless particles (type 1, mass table)\n"
          "  collapse   adiabatic collapse: cold gas sphere with density ~ 1/r\n"
          "  blast      gas lattice cube with a hot centre (blast wave)\n"
          "\n"
          "options:\n"
          "  --format F             file format 1, 2 or 3 (default %d)\n"
          "  --files K              number of files of the set (default %d)\n"
          "  --concurrent C         files written at the same time (default: all)\n"
          "  --n N                  particles (blast: particles per side) (default 1000, blast 16)\n"
          "  --seed S               random seed (default %d)\n"
          "  --mass M               total mass (default %g)\n"
          "  --radius R             Plummer scale length / sphere radius / cube side (default %g)\n"
          "  --energy E             blast energy (default %g)\n"
          "  --unit-length-cm L     length unit in cm (default %.7g, 1 kpc)\n"
          "  --unit-mass-g M        mass unit in g (default %.7g, 1e10 solar masses)\n"
          "  --unit-velocity-cms V  velocity unit in cm/s (default %.7g, 1 km/s)\n"
          "  --G G                  gravitational constant in internal units (default: from the units, %g for the default units)\n"
          "  --maxmem MB            memory region per task in MB (default: from the particle number; %d for convert and dump)\n",
          d.format, d.files, d.seed, d.mass, d.radius, d.energy, d.ul, d.um, d.uv, gravity_constant(d), CONVERT_MAXMEM_MB);
}

[[noreturn]] void fail(const char *msg)
{
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  if(rank == 0)
    {
      fprintf(stderr, "vortan-ics: %s\n\n", msg);
      print_usage(stderr);
    }
  MPI_Abort(MPI_COMM_WORLD, 2);
  exit(2);
}

options parse(int argc, char **argv)
{
  options o;
  std::vector<std::string> pos;
  for(int i = 1; i < argc; i++)
    {
      std::string a = argv[i];
      if(a == "--help" || a == "-h")
        {
          int rank = 0;
          MPI_Comm_rank(MPI_COMM_WORLD, &rank);
          if(rank == 0)
            print_usage(stdout);
          MPI_Finalize();
          exit(0);
        }
      if(a.rfind("--", 0) != 0)
        {
          pos.push_back(a);
          continue;
        }
      if(i + 1 >= argc)
        fail(("missing value for " + a).c_str());
      const char *v = argv[++i];
      char *end;
      double d = strtod(v, &end);
      if(*end)
        fail(("not a number: " + a + " " + v).c_str());
      if(a == "--format")
        o.format = (int)d;
      else if(a == "--from")
        o.from = (int)d;
      else if(a == "--to")
        o.to = (int)d;
      else if(a == "--files")
        o.files = (int)d;
      else if(a == "--concurrent")
        o.concurrent = (int)d;
      else if(a == "--n")
        o.n = (long long)d;
      else if(a == "--seed")
        o.seed = (int)d;
      else if(a == "--mass")
        o.mass = d;
      else if(a == "--radius")
        o.radius = d;
      else if(a == "--energy")
        o.energy = d;
      else if(a == "--G")
        o.G = d;
      else if(a == "--maxmem")
        o.maxmem = (int)d;
      else if(a == "--unit-length-cm")
        o.ul = d, o.units_given = true;
      else if(a == "--unit-mass-g")
        o.um = d, o.units_given = true;
      else if(a == "--unit-velocity-cms")
        o.uv = d, o.units_given = true;
      else
        fail(("unknown option " + a).c_str());
    }
  if(pos.empty())
    fail("no command given");
  o.cmd = pos[0];
  if(o.cmd == "convert")
    {
      if(pos.size() != 3 || o.from < 1 || o.to < 1)
        fail("convert needs INBASE OUTBASE --from F --to F");
    }
  else if(o.cmd == "dump")
    {
      if(pos.size() != 2 || o.from < 1)
        fail("dump needs INBASE --from F");
    }
  else if(o.cmd == "plummer" || o.cmd == "collapse" || o.cmd == "blast")
    {
      if(pos.size() != 2)
        fail("a model needs exactly one output base name");
      if(o.n < 0)
        o.n = o.cmd == "blast" ? 16 : 1000;
      if(o.n < 1)
        fail("--n must be at least 1");
    }
  else
    fail(("unknown command " + o.cmd).c_str());
  if(pos.size() > 1)
    o.in = pos[1];
  if(pos.size() > 2)
    o.out = pos[2];
  if(o.cmd != "convert" && o.cmd != "dump")
    o.out = pos[1];
  return o;
}

// Counter-based generator: the value of particle i depends only on (seed, i,
// stream), so the particles are the same whatever the number of tasks.
double uniform(uint64_t seed, uint64_t i, uint64_t stream)
{
  uint64_t z = seed * 0x9E3779B97F4A7C15ULL + i * 0xBF58476D1CE4E5B9ULL + stream * 0x94D049BB133111EBULL + 1;
  for(int r = 0; r < 2; r++)
    {
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
      z = z ^ (z >> 31);
    }
  return ((z >> 11) + 0.5) * (1.0 / 9007199254740992.0);
}

void random_direction(uint64_t seed, uint64_t i, uint64_t stream, double r, double *x)
{
  double cth = 2 * uniform(seed, i, stream) - 1;
  double phi = 2 * M_PI * uniform(seed, i, stream + 1);
  double sth = sqrt(std::max(0.0, 1 - cth * cth));
  x[0]       = r * sth * cos(phi);
  x[1]       = r * sth * sin(phi);
  x[2]       = r * cth;
}

struct generated
{
  double pos[3], vel[3], mass, u;
  int type;
};

// Plummer sphere in equilibrium (positions from the cumulative mass profile,
// speeds by rejection from the distribution function).
generated plummer(const options &o, double G, long long i)
{
  generated g{};
  g.type = 1;
  double r;
  long long k = 0;
  do
    {
      double m = uniform(o.seed, i, 10 + 7 * k++);
      r        = o.radius / sqrt(pow(m, -2.0 / 3) - 1);
    }
  while(r > 20 * o.radius);
  random_direction(o.seed, i, 1, r, g.pos);

  double vesc = sqrt(2 * G * o.mass / sqrt(r * r + o.radius * o.radius));
  double q;
  k = 0;
  while(true)
    {
      q       = uniform(o.seed, i, 1000 + 2 * k);
      double y = 0.1 * uniform(o.seed, i, 1001 + 2 * k);
      k++;
      if(y < q * q * pow(1 - q * q, 3.5))
        break;
    }
  random_direction(o.seed, i, 3, q * vesc, g.vel);
  g.mass = 0;  // from the mass table
  return g;
}

// Adiabatic collapse: M(<r) ~ r^2 gives rho ~ 1/r; cold gas at rest with
// u = 0.05 G M / R.
generated collapse(const options &o, double G, long long i)
{
  generated g{};
  g.type = 0;
  double r = o.radius * sqrt(uniform(o.seed, i, 0));
  random_direction(o.seed, i, 1, r, g.pos);
  g.mass = o.mass / o.n;
  g.u    = 0.05 * G * o.mass / o.radius;
  return g;
}

// Blast wave: n^3 lattice in a cube of side R; the particles within 1.5 cells
// of the centre share the energy, the rest is cold.
generated blast(const options &o, long long i, long long nhot)
{
  generated g{};
  long long n = o.n;
  long long ix = i / (n * n), iy = (i / n) % n, iz = i % n;
  double dx = o.radius / n;
  g.pos[0]  = (ix + 0.5) * dx - 0.5 * o.radius;
  g.pos[1]  = (iy + 0.5) * dx - 0.5 * o.radius;
  g.pos[2]  = (iz + 0.5) * dx - 0.5 * o.radius;
  g.type    = 0;
  g.mass    = o.mass / (double)(n * n * n);
  double r  = sqrt(g.pos[0] * g.pos[0] + g.pos[1] * g.pos[1] + g.pos[2] * g.pos[2]);
  g.u       = r < 1.5 * dx ? o.energy / (nhot * g.mass) : 1e-6 * o.energy / o.mass;
  return g;
}

long long blast_hot_count(const options &o)
{
  long long n = o.n, c = 0;
  double dx   = o.radius / n;
  for(long long i = 0; i < n * n * n; i++)
    {
      double x = ((i / (n * n)) + 0.5) * dx - 0.5 * o.radius, y = (((i / n) % n) + 0.5) * dx - 0.5 * o.radius,
             z = ((i % n) + 0.5) * dx - 0.5 * o.radius;
      if(sqrt(x * x + y * y + z * z) < 1.5 * dx)
        c++;
    }
  return c;
}

void setup_run_data(const options &o, int nformat)
{
  All.ICFormat                 = nformat;
  All.SnapFormat               = o.cmd == "convert" ? o.to : o.format;
  All.NumFilesPerSnapshot      = o.files;
  All.MaxFilesWithConcurrentIO = o.concurrent;
  All.ComovingIntegrationOn    = 0;
  All.UnitLength_in_cm         = o.ul;
  All.UnitMass_in_g            = o.um;
  All.UnitVelocity_in_cm_per_s = o.uv;
  All.UnitTime_in_s            = o.ul / o.uv;
  All.UnitDensity_in_cgs       = o.um / (o.ul * o.ul * o.ul);
  All.Time = All.TimeBegin = 0;
  All.RestartFlag          = o.cmd == "convert" ? RST_CONVERTSNAP : (o.cmd == "dump" ? RST_STARTFROMSNAP : RST_BEGIN);
  All.set_cosmo_factors_for_current_time();
}

void generate(const options &o, simparticles &Sp, MPI_Comm comm)
{
  int ntask, thistask;
  MPI_Comm_size(comm, &ntask);
  MPI_Comm_rank(comm, &thistask);

  long long ntot = o.cmd == "blast" ? o.n * o.n * o.n : o.n;
  if(ntot > 0x7fffffffLL)
    fail("more particles than 31-bit IDs can number");
  long long first = ntot * thistask / ntask, last = ntot * (thistask + 1) / ntask;
  int nloc        = (int)(last - first);
  double G        = gravity_constant(o);
  long long nhot  = o.cmd == "blast" ? blast_hot_count(o) : 0;

  Sp.MaxPart    = std::max(1, nloc);
  Sp.MaxPartSph = o.cmd == "plummer" ? 1 : std::max(1, nloc);
  Sp.allocate_memory();

  for(int t = 0; t < NTYPES; t++)
    All.MassTable[t] = 0;
  if(o.cmd == "plummer")
    All.MassTable[1] = o.mass / ntot;
  All.BoxSize = 0;

  // frame: the models lie within a few radii of the origin
  double extent = o.cmd == "plummer" ? 80 * o.radius : 4 * o.radius;
  double center[3] = {0, 0, 0};
  Sp.set_region(center, extent);

  for(int k = 0; k < nloc; k++)
    {
      long long i = first + k;
      generated g = o.cmd == "plummer" ? plummer(o, G, i) : o.cmd == "collapse" ? collapse(o, G, i) : blast(o, i, nhot);
      particle_data &p = Sp.P[k];
      Sp.pos_to_intpos(g.pos, p.IntPos);
      for(int d = 0; d < 3; d++)
        p.Vel[d] = g.vel[d];
      p.setType(g.type);
      p.setMass(g.mass);
      p.ID.set((MyIDType)(i + 1));
      if(g.type == 0)
        {
          // written in pass-through mode (see write_set): the slot holds u
          Sp.SphP[k].Entropy = g.u;
        }
    }
  Sp.NumPart = nloc;
  Sp.NumGas  = o.cmd == "plummer" ? 0 : nloc;
}

void dump(simparticles &Sp, MPI_Comm comm)
{
  struct row
  {
    double pos[3], vel[3], mass, u, rho, hsml, z, ne;
    unsigned id;
    int type;
  };
  std::vector<row> loc(Sp.NumPart);
  for(int i = 0; i < Sp.NumPart; i++)
    {
      row &r = loc[i];
      Sp.intpos_to_pos(Sp.P[i].IntPos, r.pos);
      for(int k = 0; k < 3; k++)
        r.vel[k] = Sp.P[i].Vel[k];
      r.type = Sp.P[i].getType();
      r.mass = All.MassTable[r.type] > 0 ? All.MassTable[r.type] : Sp.P[i].getMass();
      r.id   = Sp.P[i].ID.get();
      r.u    = r.type == 0 ? Sp.SphP[i].Entropy : 0;  // as read: the internal energy
      r.rho  = r.type == 0 ? Sp.SphP[i].Density : 0;
      r.hsml = r.type == 0 ? Sp.SphP[i].Hsml : 0;
      r.z    = Sp.P[i].Metallicity;
      r.ne   = r.type == 0 ? Sp.SphP[i].Ne : 0;
    }
  int ntask, thistask;
  MPI_Comm_size(comm, &ntask);
  MPI_Comm_rank(comm, &thistask);
  int n = (int)loc.size() * (int)sizeof(row);
  std::vector<int> counts(ntask), displs(ntask);
  MPI_Gather(&n, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, comm);
  long long total = 0;
  for(int t = 0; t < ntask; t++)
    displs[t] = (int)total, total += counts[t];
  std::vector<row> all(thistask == 0 ? total / sizeof(row) : 0);
  MPI_Gatherv(loc.data(), n, MPI_BYTE, all.data(), counts.data(), displs.data(), MPI_BYTE, 0, comm);
  if(thistask == 0)
    {
      std::sort(all.begin(), all.end(), [](const row &a, const row &b) { return a.id < b.id; });
      printf("# id type x y z vx vy vz mass u rho hsml z ne\n");
      for(const row &r : all)
        printf("P %u %d %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g %.9g\n", r.id, r.type, r.pos[0], r.pos[1], r.pos[2],
               r.vel[0], r.vel[1], r.vel[2], r.mass, r.u, r.rho, r.hsml, r.z, r.ne);
    }
}

void write_set(const char *base, simparticles &Sp, MPI_Comm comm, int format)
{
  // Pass-through mode: internal energies and velocities are written as held,
  // with none of the conversions a running simulation applies.
  All.RestartFlag = RST_CONVERTSNAP;
  snap_io snap(&Sp, comm, format);
  snap.init_basic(&Sp);
  snap.write_file_set(base);
}
}  // namespace

int main(int argc, char **argv)
{
  MPI_Init(&argc, &argv);
  options o = parse(argc, argv);

  // On several shared-memory islands one rank per island becomes a listener,
  // as in the simulation; it follows the same start-up protocol and is
  // released at the end.
  MPI_Comm comm = tool_start_islands();

  long long nest = o.cmd == "blast" ? o.n * o.n * o.n : (o.n > 0 ? o.n : 0);
  All.MaxMemSize = o.maxmem > 0 ? o.maxmem : 0;
  if(All.MaxMemSize == 0)
    {
      double per = (double)(nest > 0 ? nest : 1) / Shmem.Sim_NTask / 0.6 * (sizeof(particle_data) + sizeof(sph_particle_data) + 64);
      All.MaxMemSize = (int)(per / (1 << 20)) + 96;
      if(o.cmd == "convert" || o.cmd == "dump")
        All.MaxMemSize = CONVERT_MAXMEM_MB;  // --maxmem for larger sets
    }
  strcpy(All.OutputDir, "/tmp/");
  All.RestartFlag = RST_BEGIN;
  tool_start_memory(comm);
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);

  static simparticles Sp(comm);
  tool_start_particles(Sp);

  if(o.cmd == "convert" || o.cmd == "dump")
    {
      setup_run_data(o, o.from);
      {
        snap_io reader(&Sp, comm, o.from);
        reader.init_basic(&Sp);
        reader.read_ic(o.in.c_str());
      }
      if(o.cmd == "convert")
        write_set(o.out.c_str(), Sp, comm, o.to);
      else
        dump(Sp, comm);
    }
  else
    {
      setup_run_data(o, o.format);
      generate(o, Sp, comm);
      write_set(o.out.c_str(), Sp, comm, o.format);
    }

  if(Shmem.Island_ThisTask == 0 && Shmem.listeners_in_use())
    Shmem.release_listener();
  H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
  MPI_Finalize();
  return 0;
}
