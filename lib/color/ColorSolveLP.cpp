#include "color/ColorSolveLP.h"

#include <glpk.h>

#include <climits>
#include <cmath>
#include <memory>
#include <string>

namespace Color {

namespace {

using Primary = CIEXYZ::xyY<double>;

// GLPK counts rows, columns and matrix entries from 1; index 0 of its arrays is never read.
constexpr int kNoColumn = 0;
constexpr int kRowX = 1;
constexpr int kRowY = 2;
constexpr int kRowTotal = 3;
constexpr double kCoefficient = 1.0;

// Three matrix entries per emitter at most, and GLPK's counts are ints.
constexpr std::size_t kMaxEmitters = (INT_MAX - 1) / 3;

// One input emitter: its GLPK column, or kNoColumn when it is fixed and has no variable.
struct Emitter {
    int column;
    const Primary& xyY;
};

// The linear programme in plain numbers, built and checked before GLPK sees any of it.
struct Programme {
    std::vector<Emitter> emitters;
    int columns = 0;
    int rows = 0;
    double fixedX = 0.0;     // right-hand side of the "ctx" row
    double fixedY = 0.0;     // right-hand side of the "cty" row
    double fixedTotal = 0.0; // the fixed emitters' luminance, taken off the "total" row
    std::vector<int> rowIndex{0};
    std::vector<int> columnIndex{0};
    std::vector<double> values{0.0};

    void addEntry(int row, int column, double value)
    {
        rowIndex.push_back(row);
        columnIndex.push_back(column);
        values.push_back(value);
    }

    int entries() const { return int(values.size()) - 1; }
};

bool finite(const Primary& p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.Y);
}

// Values that would make the coefficients infinite or hand GLPK a NaN bound (on which it aborts
// the process) are refused here, before a problem exists.
bool acceptable(std::span<const Primary> primaries, const Primary& target, double totalY)
{
    if (primaries.size() > kMaxEmitters || !std::isfinite(target.x) || !std::isfinite(target.y) || !std::isfinite(totalY))
        return false;
    for (const Primary& p : primaries)
        if (!finite(p) || p.y == 0.0 || p.Y < 0.0)
            return false;
    return true;
}

Programme buildProgramme(std::span<const Primary> primaries, const Primary& target, const std::set<std::uint64_t>& fixedSet,
                         double totalY)
{
    Programme programme;
    programme.emitters.reserve(primaries.size());
    for (std::size_t i = 0; i < primaries.size(); ++i) {
        const Primary& p = primaries[i];
        if (fixedSet.contains(i)) {
            programme.fixedX -= (target.x - p.x) * p.Y / p.y;
            programme.fixedY -= (target.y - p.y) * p.Y / p.y;
            programme.fixedTotal += p.Y;
            programme.emitters.push_back({kNoColumn, p});
        } else {
            programme.emitters.push_back({++programme.columns, p});
        }
    }

    programme.rows = totalY != 0.0 ? kRowTotal : kRowY;
    for (const Emitter& e : programme.emitters)
        if (e.column != kNoColumn)
            programme.addEntry(kRowX, e.column, (target.x - e.xyY.x) / e.xyY.y);
    for (const Emitter& e : programme.emitters)
        if (e.column != kNoColumn)
            programme.addEntry(kRowY, e.column, (target.y - e.xyY.y) / e.xyY.y);
    if (programme.rows == kRowTotal)
        for (const Emitter& e : programme.emitters)
            if (e.column != kNoColumn)
                programme.addEntry(kRowTotal, e.column, kCoefficient);
    return programme;
}

// Overflow in the coefficients or the right-hand sides (a y very close to 0, an enormous Y)
// poisons the simplex just as a non-finite input does.
bool finite(const Programme& programme, double totalY)
{
    if (!std::isfinite(programme.fixedX) || !std::isfinite(programme.fixedY) || !std::isfinite(totalY - programme.fixedTotal))
        return false;
    for (double v : programme.values)
        if (!std::isfinite(v))
            return false;
    return true;
}

struct ProblemDeleter {
    void operator()(glp_prob* problem) const noexcept { glp_delete_prob(problem); }
};
using Problem = std::unique_ptr<glp_prob, ProblemDeleter>;

void addRows(glp_prob* lp, const Programme& programme, double totalY)
{
    glp_add_rows(lp, programme.rows);
    glp_set_row_name(lp, kRowX, "ctx");
    glp_set_row_bnds(lp, kRowX, GLP_FX, programme.fixedX, programme.fixedX);
    glp_set_row_name(lp, kRowY, "cty");
    glp_set_row_bnds(lp, kRowY, GLP_FX, programme.fixedY, programme.fixedY);
    if (programme.rows == kRowTotal) {
        const double freeTotal = totalY - programme.fixedTotal;
        glp_set_row_name(lp, kRowTotal, "total");
        glp_set_row_bnds(lp, kRowTotal, GLP_FX, freeTotal, freeTotal);
    }
}

// One variable per free emitter between 0 and its Y. A dark emitter's column is fixed at 0:
// GLPK refuses a double bound whose ends meet.
void addColumns(glp_prob* lp, const Programme& programme, const std::set<std::uint64_t>& objectiveSet)
{
    if (programme.columns == 0)
        return;
    glp_add_cols(lp, programme.columns);
    for (std::size_t i = 0; i < programme.emitters.size(); ++i) {
        const Emitter& e = programme.emitters[i];
        if (e.column == kNoColumn)
            continue;
        glp_set_col_name(lp, e.column, ("L" + std::to_string(i)).c_str());
        if (e.xyY.Y > 0.0)
            glp_set_col_bnds(lp, e.column, GLP_DB, 0.0, e.xyY.Y);
        else
            glp_set_col_bnds(lp, e.column, GLP_FX, 0.0, 0.0);
        if (objectiveSet.empty())
            glp_set_obj_coef(lp, e.column, kCoefficient);
    }
    for (std::uint64_t index : objectiveSet)
        if (index < programme.emitters.size() && programme.emitters[index].column != kNoColumn)
            glp_set_obj_coef(lp, programme.emitters[index].column, kCoefficient);
}

} // namespace

std::vector<double> solveLP(std::span<const CIEXYZ::xyY<double>> primaries, const CIEXYZ::xyY<double>& target,
                            std::set<std::uint64_t> fixedSet, std::set<std::uint64_t> objectiveSet, Objective objective,
                            double totalY)
{
    if (!acceptable(primaries, target, totalY))
        return {};
    Programme programme = buildProgramme(primaries, target, fixedSet, totalY);
    if (!finite(programme, totalY))
        return {};

    const Problem lp(glp_create_prob());
    addRows(lp.get(), programme, totalY);
    addColumns(lp.get(), programme, objectiveSet);
    glp_set_obj_dir(lp.get(), objective == Objective::Maximise ? GLP_MAX : GLP_MIN);
    glp_load_matrix(lp.get(), programme.entries(), programme.rowIndex.data(), programme.columnIndex.data(),
                    programme.values.data());

    glp_smcp parameters;
    glp_init_smcp(&parameters);
    parameters.msg_lev = GLP_MSG_OFF;
    parameters.meth = GLP_PRIMAL;
    // A return of 0 only means the simplex ran; the status says whether it found a solution.
    if (glp_simplex(lp.get(), &parameters) != 0 || glp_get_status(lp.get()) != GLP_OPT)
        return {};

    std::vector<double> luminances;
    luminances.reserve(programme.emitters.size());
    for (const Emitter& e : programme.emitters)
        luminances.push_back(e.column == kNoColumn ? e.xyY.Y : glp_get_col_prim(lp.get(), e.column));
    return luminances;
}

} // namespace Color
