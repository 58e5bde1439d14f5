#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "data/simparticles.h"
#include "time_integration/timebindata.h"

namespace
{
constexpr int N     = 8;
constexpr int GUARD = 12345;

// Lists over N particles; the arrays carry a guard slot at index -1 so a write
// through a -1 link shows up.
struct lists
{
  int maxpart = N;
  std::vector<int> active, next, prev;
  TimeBinData tb;

  lists() : active(N + 1, GUARD), next(N + 1, GUARD), prev(N + 1, GUARD)
  {
    tb.timebins_init("Gravity", &maxpart);
    tb.ActiveParticleList = active.data() + 1;
    tb.NextInTimeBin      = next.data() + 1;
    tb.PrevInTimeBin      = prev.data() + 1;
  }

  std::vector<int> bin(int b) const
  {
    std::vector<int> out;
    for(int i = tb.FirstInTimeBin[b]; i >= 0 && out.size() <= N; i = tb.NextInTimeBin[i])
      out.push_back(i);
    return out;
  }

  std::vector<int> bin_backwards(int b) const
  {
    std::vector<int> out;
    for(int i = tb.LastInTimeBin[b]; i >= 0 && out.size() <= N; i = tb.PrevInTimeBin[i])
      out.insert(out.begin(), i);
    return out;
  }

  std::vector<int> active_list() const { return std::vector<int>(tb.ActiveParticleList, tb.ActiveParticleList + tb.NActiveParticles); }
};

enum opcode
{
  ADD,         // a = i_new, b = i_old, c = bin, d = add to active list
  REMOVE,      // a = active-list entry, c = bin
  MOVE,        // a = particle, b = old bin, c = new bin
  SETCOUNT,    // c = bin, a = count (a stale count, as left by other code)
  ACTIVE_UPTO, // c = bin
  ACTIVE_ADD,  // c = bin
};

struct op
{
  opcode code;
  int a, b, c, d;
};

struct list_case
{
  const char *name;
  std::vector<op> ops;
  std::map<int, std::vector<int>> bins; // every other bin must be empty
  std::map<int, int> counts;            // where the count differs from the list length
  std::vector<int> active;
  bool check_active;
};

void run(lists &l, const op &o)
{
  switch(o.code)
    {
      case ADD:
        l.tb.timebin_add_particle(o.a, o.b, o.c, o.d);
        break;
      case REMOVE:
        l.tb.timebin_remove_particle(o.a, o.c);
        break;
      case MOVE:
        l.tb.timebin_move_particle(o.a, o.b, o.c);
        break;
      case SETCOUNT:
        l.tb.TimeBinCount[o.c] = o.a;
        break;
      case ACTIVE_UPTO:
        l.tb.timebin_make_list_of_active_particles_up_to_timebin(o.c);
        break;
      case ACTIVE_ADD:
        l.tb.timebin_add_particles_of_timebin_to_list_of_active_particles(o.c);
        break;
    }
}
}  // namespace

TEST(TimeBins, ListOperations)
{
  using V = std::vector<int>;
  const list_case cases[] = {
      {"add to an empty bin", {{ADD, 0, -1, 3, 0}}, {{3, V{0}}}, {}, {}, true},
      {"second add with no predecessor appends", {{ADD, 0, -1, 3, 0}, {ADD, 1, -1, 3, 0}}, {{3, V{0, 1}}}, {}, {}, true},
      {"add after the tail moves the tail", {{ADD, 0, -1, 3, 0}, {ADD, 1, 0, 3, 0}, {ADD, 2, 1, 3, 0}}, {{3, V{0, 1, 2}}}, {}, {}, true},
      {"add after a middle element keeps the tail",
       {{ADD, 0, -1, 3, 0}, {ADD, 1, -1, 3, 0}, {ADD, 2, 0, 3, 0}},
       {{3, V{0, 2, 1}}},
       {},
       {},
       true},
      {"add to active list", {{ADD, 4, -1, 0, 1}, {ADD, 2, -1, 7, 1}}, {{0, V{4}}, {7, V{2}}}, {}, V{4, 2}, true},
      {"remove the only particle", {{ADD, 0, -1, 3, 1}, {REMOVE, 0, 0, 3, 0}}, {}, {}, V{-1}, true},
      {"remove head, middle and tail",
       {{ADD, 0, -1, 2, 1}, {ADD, 1, -1, 2, 1}, {ADD, 2, -1, 2, 1}, {ADD, 3, -1, 2, 1}, {REMOVE, 0, 0, 2, 0}, {REMOVE, 3, 0, 2, 0},
        {REMOVE, 1, 0, 2, 0}},
       {{2, V{2}}},
       {},
       V{-1, -1, 2, -1},
       true},
      {"removing a removed entry leaves the count",
       {{ADD, 0, -1, 3, 1}, {ADD, 1, -1, 3, 1}, {REMOVE, 0, 0, 3, 0}, {REMOVE, 0, 0, 3, 0}},
       {{3, V{1}}},
       {},
       V{-1, 1},
       true},
      {"move to its own bin changes nothing", {{ADD, 0, -1, 3, 0}, {ADD, 1, -1, 3, 0}, {MOVE, 0, 3, 3, 0}}, {{3, V{0, 1}}}, {}, {}, true},
      {"move the head",
       {{ADD, 0, -1, 3, 0}, {ADD, 1, -1, 3, 0}, {ADD, 2, -1, 3, 0}, {MOVE, 0, 3, 5, 0}},
       {{3, V{1, 2}}, {5, V{0}}},
       {},
       {},
       true},
      {"move the tail into an occupied bin",
       {{ADD, 0, -1, 3, 0}, {ADD, 1, -1, 3, 0}, {ADD, 5, -1, 4, 0}, {MOVE, 1, 3, 4, 0}},
       {{3, V{0}}, {4, V{5, 1}}},
       {},
       {},
       true},
      {"move into an empty bin with a stale count",
       {{ADD, 0, -1, 3, 0}, {SETCOUNT, 3, 0, 5, 0}, {MOVE, 0, 3, 5, 0}},
       {{5, V{0}}},
       {{5, 4}},
       {},
       true},
      {"move into an occupied bin whose count reads zero",
       {{ADD, 0, -1, 3, 0}, {ADD, 1, -1, 5, 0}, {SETCOUNT, 0, 0, 5, 0}, {MOVE, 0, 3, 5, 0}},
       {{5, V{1, 0}}},
       {{5, 1}},
       {},
       true},
      {"active list up to bin -1 is empty",
       {{ADD, 0, -1, 0, 0}, {ACTIVE_UPTO, 0, 0, -1, 0}},
       {{0, V{0}}},
       {},
       {},
       true},
      {"active list up to bin 2 starts with the highest bin",
       {{ADD, 0, -1, 0, 0}, {ADD, 1, -1, 1, 0}, {ADD, 2, -1, 1, 0}, {ADD, 3, -1, 2, 0}, {ADD, 4, -1, 3, 0},
        {ACTIVE_UPTO, 0, 0, 2, 0}},
       {{0, V{0}}, {1, V{1, 2}}, {2, V{3}}, {3, V{4}}},
       {},
       V{3, 1, 2, 0},
       true},
      {"adding one bin appends in list order",
       {{ADD, 0, -1, 0, 0}, {ADD, 6, -1, 4, 0}, {ADD, 7, -1, 4, 0}, {ACTIVE_UPTO, 0, 0, 0, 0}, {ACTIVE_ADD, 0, 0, 4, 0},
        {ACTIVE_ADD, 0, 0, -1, 0}},
       {{0, V{0}}, {4, V{6, 7}}},
       {},
       V{0, 6, 7},
       true},
  };

  for(const auto &c : cases)
    {
      SCOPED_TRACE(c.name);
      lists l;
      for(const auto &o : c.ops)
        run(l, o);

      for(int b = 0; b < TIMEBIN_COUNT; b++)
        {
          auto it       = c.bins.find(b);
          V expect      = it == c.bins.end() ? V{} : it->second;
          auto cnt      = c.counts.find(b);
          int expectcnt = cnt == c.counts.end() ? static_cast<int>(expect.size()) : cnt->second;
          EXPECT_EQ(l.bin(b), expect) << "bin " << b;
          EXPECT_EQ(l.bin_backwards(b), expect) << "bin " << b << " walked from the tail";
          EXPECT_EQ(l.tb.TimeBinCount[b], expectcnt) << "bin " << b;
        }
      if(c.check_active)
        EXPECT_EQ(l.active_list(), c.active);
      EXPECT_EQ(l.active[0], GUARD) << "write through index -1 of the active list";
      EXPECT_EQ(l.next[0], GUARD) << "write through index -1 of the next links";
      EXPECT_EQ(l.prev[0], GUARD) << "write through index -1 of the previous links";
    }
}

TEST(TimeBins, InitResetsCountsHeadsAndTails)
{
  int maxpart = 3;
  TimeBinData tb;
  for(int b = 0; b < TIMEBIN_COUNT; b++)
    tb.TimeBinCount[b] = tb.FirstInTimeBin[b] = tb.LastInTimeBin[b] = 99;
  std::string longname(150, 'x');
  tb.timebins_init(longname.c_str(), &maxpart);
  for(int b = 0; b < TIMEBIN_COUNT; b++)
    {
      EXPECT_EQ(tb.TimeBinCount[b], 0);
      EXPECT_EQ(tb.FirstInTimeBin[b], -1);
      EXPECT_EQ(tb.LastInTimeBin[b], -1);
    }
  EXPECT_EQ(std::string(tb.Name), std::string(99, 'x'));
  EXPECT_EQ(tb.MaxPart, &maxpart);
}

// Deleted particles (zero mass and ID 0) leave both kinds of lists; a zero
// mass alone, or a gas slot now holding another type, does not count.
TEST(TimeBins, CleanupRemovesDeletedParticlesOnly)
{
  simparticles sp;
  std::vector<particle_data> p(4);
  sp.P       = p.data();
  sp.NumPart = 4;
  sp.NumGas  = 3;

  p[0].setMass(0), p[0].ID.set(0), p[0].setType(0);   // deleted gas
  p[1].setMass(0), p[1].ID.set(5), p[1].setType(0);   // zero mass, live ID
  p[2].setMass(0), p[2].ID.set(0), p[2].setType(4);   // deleted, gas slot turned star
  p[3].setMass(1), p[3].ID.set(9), p[3].setType(1);
  for(auto &q : p)
    q.TimeBinGrav = q.TimeBinHydro = 2;

  lists grav, hydro;
  sp.TimeBinsGravity = grav.tb;
  sp.TimeBinsHydro   = hydro.tb;
  for(int i = 0; i < 4; i++)
    sp.TimeBinsGravity.timebin_add_particle(i, -1, 2, 1);
  for(int i = 0; i < 3; i++)
    sp.TimeBinsHydro.timebin_add_particle(i, -1, 2, 1);

  sp.timebin_cleanup_list_of_active_particles();

  grav.tb  = sp.TimeBinsGravity;
  hydro.tb = sp.TimeBinsHydro;
  EXPECT_EQ(grav.active_list(), (std::vector<int>{-1, 1, -1, 3}));
  EXPECT_EQ(grav.bin(2), (std::vector<int>{1, 3}));
  EXPECT_EQ(grav.tb.TimeBinCount[2], 2);
  EXPECT_EQ(hydro.active_list(), (std::vector<int>{-1, 1, 2}));
  EXPECT_EQ(hydro.bin(2), (std::vector<int>{1, 2}));
  EXPECT_EQ(hydro.tb.TimeBinCount[2], 2);
  sp.P = nullptr;
}
