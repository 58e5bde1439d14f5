#ifndef VORTAN_LOGS_TIMER_H
#define VORTAN_LOGS_TIMER_H

// The timer tree: identifier, parent, label in cpu.txt, bar symbols for the
// balanced part and the imbalance part (0 = not painted). Parents come before
// their children; the inclusive sums rely on it.
#define VORTAN_TIMER_TABLE(X)                                    \
  X(CPU_ALL, CPU_ROOT, "total", 0, 0)                            \
  X(CPU_TREE, CPU_ALL, "treegrav", 0, 0)                         \
  X(CPU_TREEBUILD, CPU_TREE, "treebuild", 0, 0)                  \
  X(CPU_TREEBUILD_INSERT, CPU_TREEBUILD, "insert", ':', 'r')     \
  X(CPU_TREEBUILD_BRANCHES, CPU_TREEBUILD, "branches", 'D', 'd') \
  X(CPU_TREEBUILD_TOPLEVEL, CPU_TREEBUILD, "toplevel", 'E', 'e') \
  X(CPU_TREEFORCE, CPU_TREE, "treeforce", 0, 0)                  \
  X(CPU_TREEWALK, CPU_TREEFORCE, "treewalk", '*', 't')           \
  X(CPU_TREEIMBALANCE, CPU_TREEFORCE, "treeimbalance", 'x', 'X') \
  X(CPU_TREEFETCH, CPU_TREEFORCE, "treefetch", '&', 'e')         \
  X(CPU_TREESTACK, CPU_TREEFORCE, "treestack", '#', 'a')         \
  X(CPU_NGBTREEUPDATEVEL, CPU_ALL, "ngbtreevelupdate", 'B', 'b') \
  X(CPU_NGBTREEUPDATEMAXHSML, CPU_ALL, "ngbtreehsmlupdate", 'h', 'H') \
  X(CPU_SPH, CPU_ALL, "sph", 0, 0)                               \
  X(CPU_DENSITY, CPU_SPH, "density", 'd', 'D')                   \
  X(CPU_DENSWALK, CPU_DENSITY, "densitywalk", 'e', 'E')          \
  X(CPU_DENSFETCH, CPU_DENSITY, "densityfetch", 'f', 'F')        \
  X(CPU_DENSIMBALANCE, CPU_DENSITY, "densimbalance", 'c', 'C')   \
  X(CPU_HYDRO, CPU_SPH, "hydro", 'J', 'j')                       \
  X(CPU_HYDROWALK, CPU_HYDRO, "hydrowalk", '9', 'H')             \
  X(CPU_HYDROFETCH, CPU_HYDRO, "hydrofetch", '0', 'K')           \
  X(CPU_HYDROIMBALANCE, CPU_HYDRO, "hydroimbalance", '[', 'y')   \
  X(CPU_DOMAIN, CPU_ALL, "domain", '+', 'l')                     \
  X(CPU_PEANO, CPU_ALL, "peano", '"', 'o')                       \
  X(CPU_DRIFTS, CPU_ALL, "drift/kicks", '?', 'A')                \
  X(CPU_TIMELINE, CPU_ALL, "timeline", ')', 'I')                 \
  X(CPU_TREE_TIMESTEPS, CPU_ALL, "treetimesteps", '0', 'W')      \
  X(CPU_SNAPSHOT, CPU_ALL, "i/o", '3', 'B')                      \
  X(CPU_LOGS, CPU_ALL, "logs", 'K', 'k')                         \
  X(CPU_COOLING_SFR, CPU_ALL, "sfrcool", '1', 'T')               \
  X(CPU_RESTART, CPU_ALL, "restart", 'C', 'c')                   \
  X(CPU_MISC, CPU_ALL, "misc", '7', 'F')                         \
  X(CPU_LAST, CPU_NONE, "LAST", ' ', ' ')

#define VORTAN_TIMER_ENUM(name, parent, label, symb, imbal) name,

enum timers
{
  CPU_NONE = -2,
  CPU_ROOT = -1,
  VORTAN_TIMER_TABLE(VORTAN_TIMER_ENUM)
};

#undef VORTAN_TIMER_ENUM

#define TIMER_STACK_DEPTH 30

#endif
