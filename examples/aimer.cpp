// An example contestant program: the ballistic aimer of examples/aimer.py, in C++.
//
// It speaks the contestant protocol on stdin and stdout (docs/contestants.md) and steers exactly
// as the Python one does: both use the same double arithmetic, so their orders match line for
// line. It depends on nothing of the arena; any C++ compiler builds it on its own:
//     c++ -std=c++20 -O2 -o aimer examples/aimer.cpp
// Under duel rules (protocol 2) it reads only a move line's first fields and aims where the other
// gun stands under plain rules, as the Python one does.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <numbers>
#include <sstream>
#include <string>

namespace {

constexpr double FieldWidth = 373;   // bullets leave at x < 0, x >= 373 or y >= 285
constexpr double FieldHeight = 285;
constexpr double ShotSpeed = 2.0;    // pixels a move as a bullet leaves the gun
constexpr double Drag = 1.003;       // the speed is divided by this each move
constexpr double Gravity = 0.00981;  // pixels a move added downward each move
constexpr double HitRadius = 8.0;    // half a gun picture's side
constexpr int MaxFlight = 3000;      // moves; every bullet has left the field by then

struct Point {
    double X;
    double Y;
};

// Where each gun stands.
constexpr Point CannonStart{20, 20};
constexpr Point HelicopterStart{40, 40};

// Written out rather than std::hypot, whose last bit differs between libraries: the Python
// aimer computes the very same value.
double Distance(double DX, double DY) { return std::sqrt(DX * DX + DY * DY); }

// How near a shot at Angle from Origin comes to Target, in pixels.
double ClosestPass(Point Origin, Point Target, int Angle) {
    const double Theta = Angle * 2.0 * std::numbers::pi / 256.0;
    double X = Origin.X;
    double Y = Origin.Y;
    double VX = ShotSpeed * std::sin(Theta);
    double VY = ShotSpeed * std::cos(Theta);
    double Best = Distance(X - Target.X, Y - Target.Y);
    for (int Step = 0; Step < MaxFlight; ++Step) {
        VX = VX / Drag;
        VY = VY / Drag + Gravity;
        X += VX;
        Y += VY;
        if (X < 0 || X >= FieldWidth || Y >= FieldHeight) break;
        Best = std::min(Best, Distance(X - Target.X, Y - Target.Y));
    }
    return Best;
}

// The closest pass of every angle, and the angle with the closest of all (the lowest on a tie).
struct Plan {
    std::array<double, 256> Passes{};
    int Best = 0;
};

Plan MakePlan(Point Origin, Point Target) {
    Plan Made;
    for (int Angle = 0; Angle < 256; ++Angle) {
        Made.Passes[Angle] = ClosestPass(Origin, Target, Angle);
        if (Made.Passes[Angle] < Made.Passes[Made.Best]) Made.Best = Angle;
    }
    return Made;
}

}  // namespace

int main() {
    std::string Line;
    std::string Word;
    int Version = 0;
    std::string Name;
    if (!std::getline(std::cin, Line)) return 1;
    std::istringstream Greeting(Line);
    if (!(Greeting >> Word >> Version >> Name) || Word != "brakkenfel" || (Version != 1 && Version != 2) ||
        (Name != "Cannon" && Name != "Helicopter")) {
        std::cerr << "aimer: unexpected greeting '" << Line << "'\n";
        return 1;
    }
    Point Origin = Name == "Cannon" ? CannonStart : HelicopterStart;
    const Point Target = Name == "Cannon" ? HelicopterStart : CannonStart;
    Plan Aim = MakePlan(Origin, Target);
    // Unbuffered by hand: one write per line, each reply out the moment it is complete.
    std::fputs("ready\n", stdout);
    std::fflush(stdout);

    while (std::getline(std::cin, Line)) {
        if (Line == "quit") break;
        std::istringstream Move(Line);
        unsigned long long Number = 0;
        int Angle = 0;
        int X = 0;
        int Y = 0;
        int Rotating = 0;
        if (!(Move >> Word >> Number >> Angle >> X >> Y >> Rotating) || Word != "move" || Angle < 0 || Angle > 255) {
            continue;
        }
        if (X != Origin.X || Y != Origin.Y) {
            // Someone moved the gun: aim again from where it stands.
            Origin = {static_cast<double>(X), static_cast<double>(Y)};
            Aim = MakePlan(Origin, Target);
        }
        std::string Reply = std::to_string(Number);
        if (Angle != Aim.Best) Reply += " rotate " + std::to_string(Aim.Best);
        if (Aim.Passes[Angle] <= HitRadius) Reply += " shoot";
        Reply += '\n';
        std::fputs(Reply.c_str(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
