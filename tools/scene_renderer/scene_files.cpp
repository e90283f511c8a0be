#include "tools/scene_renderer/scene_files.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <stdexcept>

#include "tools/scene_renderer/renderer.h"

namespace scene {

namespace {

std::string CameraMatrix(const Rig& rig)
{
    std::ostringstream out;
    out << std::setprecision(10) << "[ [" << rig.focal << ", 0., " << (rig.width - 1) / 2.0 << "], [0., " << rig.focal
        << ", " << (rig.height - 1) / 2.0 << "], [0., 0., 1.] ]";
    return out.str();
}

// Apparent radius in pixels of the shoulders of a person of typical height (175 cm), seen from above.
double PersonRadiusInView(const Rig& rig)
{
    const Body body(175.0);
    const double distance = std::max(rig.mount_height - body.shoulder_top, 1.0);
    return body.half_width * rig.focal / distance;
}

}  // namespace

std::string AlgoIni(const Scene& scene)
{
    const Rig& rig = scene.rig;
    std::ostringstream out;
    out << std::setprecision(10);
    out << "; Written by flowtally_render for a rendered scene.\n";
    if (rig.stereo) {
        const std::string zeros = "[ [0.], [0.], [0.], [0.], [0.], [0.], [0.], [0.] ]";
        out << "[StereoPeopleCounter--3DReconstructor]\n"
            << "camera_matrix_l=" << CameraMatrix(rig) << "\n"
            << "camera_matrix_r=" << CameraMatrix(rig) << "\n"
            << "dist_coeff_l=" << zeros << "\n"
            << "dist_coeff_r=" << zeros << "\n"
            << "rotate_matrix_l_r=[ [1., 0., 0.], [0., 1., 0.], [0., 0., 1.] ]\n"
            << "base_vect=[ [" << -rig.baseline << "], [0.], [0.] ]\n"
            << "initial_width=" << rig.width << "\n"
            << "initial_height=" << rig.height << "\n"
            << "cam_tilt_angle=" << rig.tilt << "\n"
            << "h_camera_mount_param=" << rig.mount_height << "\n\n"
            << "[StereoPeopleCounter--CrossingsCounter]\n"
            << "CountingLines=[ [ " << scene.line.id << ", \"TwoDirections\", [ [0.0," << scene.line.row << "],[1.0,"
            << scene.line.row << "] ] ] ]\n";
    } else {
        // The single camera's controller: a circle of the apparent shoulder radius of a person of
        // typical height, and the counting line from left to right, so that walking down through
        // it is "in". Its polylines are numbered from 1: the scene's line is the first.
        const double radius = std::max(PersonRadiusInView(rig), 1.0) / rig.height;
        out << "[MonoPeopleCounter]\n"
            << "target_circle=[[0.5,0.5],[0.5," << 0.5 - radius << "]]\n"
            << "lines=[[[0.0," << scene.line.row << "],[1.0," << scene.line.row << "]]]\n";
    }
    return out.str();
}

std::string TruthText(const Scene& scene, const std::vector<Crossing>& crossings)
{
    std::ostringstream out;
    int incoming = 0, outgoing = 0;
    out << "# frames " << scene.frames << ", people " << scene.people.size() << ", line " << scene.line.id << " at row "
        << scene.line.row << "\n# frame person direction line height\n";
    for (const Crossing& crossing : crossings) {
        out << crossing.frame << ' ' << crossing.person << ' ' << (crossing.incoming ? "Incoming" : "Outgoing") << ' '
            << crossing.line_id << ' ' << crossing.height << "\n";
        (crossing.incoming ? incoming : outgoing) += 1;
    }
    out << "incoming " << incoming << "\noutgoing " << outgoing << "\n";
    return out.str();
}

Person ParsePerson(const std::string& text)
{
    std::vector<double> values;
    std::vector<std::pair<std::string, double>> named;  // "key=value" fields after the numbers
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, ',')) {
        const auto equals = field.find('=');
        const std::string number = equals == std::string::npos ? field : field.substr(equals + 1);
        size_t used = 0;
        double value = 0.0;
        try {
            value = std::stod(number, &used);
        } catch (const std::exception&) {
            used = 0;
        }
        if (used == 0 || used != number.size() || !std::isfinite(value))
            throw std::runtime_error("Bad person '" + text + "': '" + field + "' is not a number");
        if (equals != std::string::npos)
            named.emplace_back(field.substr(0, equals), value);
        else if (!named.empty())
            throw std::runtime_error("Bad person '" + text + "': '" + field + "' follows a named field");
        else
            values.push_back(value);
    }
    if (values.size() < 7 || values.size() > 9)
        throw std::runtime_error("Bad person '" + text +
                                 "': expected x0,y0,x1,y1,speed,height,start[,dark[,return_after]][,key=value...]");
    if (values[6] < 0.0 || values[6] > 1000000.0)
        throw std::runtime_error("Bad person '" + text + "': start must be 0..1000000");
    Person person;
    person.x0 = values[0];
    person.y0 = values[1];
    person.x1 = values[2];
    person.y1 = values[3];
    person.speed = values[4];
    person.height = values[5];
    person.start_frame = static_cast<int>(values[6]);
    person.dark = values.size() >= 8 && values[7] != 0.0;
    if (values.size() == 9) {
        if (values[8] < 0.0 || values[8] > 100000.0)
            throw std::runtime_error("Bad person '" + text + "': return_after must be 0..100000 frames");
        person.return_after = static_cast<int>(values[8]);
    }
    if (person.speed <= 0.0 || person.height <= 30.0 || person.height > 300.0)
        throw std::runtime_error("Bad person '" + text + "': speed must be positive, height 30..300 cm");
    if (std::hypot(person.x1 - person.x0, person.y1 - person.y0) / person.speed > 1000000.0)
        throw std::runtime_error("Bad person '" + text + "': the walk must take at most 1000000 frames");
    // The build: each key with the range of values that still draws a person.
    const struct {
        const char* key;
        double low, high;
    } keys[] = {{"shoulders", 0.6, 1.6}, {"slope", 0.2, 3.0}, {"lean", -30.0, 30.0},
                {"hair", 0.0, 10.0},     {"bag", 0.0, 2.0},   {"hood", 0.0, 1.0}};
    for (const auto& [key, value] : named) {
        const std::string& name = key;  // a lambda cannot capture a structured binding in C++17
        const auto* known =
            std::find_if(std::begin(keys), std::end(keys), [&](const auto& k) { return name == k.key; });
        if (known == std::end(keys))
            throw std::runtime_error("Bad person '" + text + "': unknown field '" + key +
                                     "' (shoulders, slope, lean, hair, bag, hood)");
        const bool counted = key == "bag" || key == "hood";  // whole numbers only
        if (value < known->low || value > known->high || (counted && value != std::floor(value)))
            throw std::runtime_error("Bad person '" + text + "': " + key + " must be " + std::to_string(known->low) +
                                     ".." + std::to_string(known->high));
        Build& b = person.build;
        if (key == "shoulders")
            b.shoulders = value;
        else if (key == "slope")
            b.slope = value;
        else if (key == "lean")
            b.lean = value;
        else if (key == "hair")
            b.hair = value;
        else if (key == "bag")
            b.bag = static_cast<int>(value);
        else
            b.hood = value != 0.0;
    }
    return person;
}

}  // namespace scene
