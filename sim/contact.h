// Contacts of a racer with the terrain, the track's static objects and other
// racers: the tyre model (spring, damper, friction curve, rolling resistance), the
// part shapes' contacts, and the crash and rider-contact rules they trigger. All
// contacts become ODE contact joints in the physics world's contact group, made
// before the world step.
#pragma once

#include <ode/ode.h>

#include "sim/contact_geom.h"

struct Racer;
struct Shape;
struct Terrain;
struct TileType;

// Spring and damper of a contact, as ODE's soft ERP and CFM at the tick length.
struct ContactSoftness {
    double kp, kd;      // lbf/ft, lbf·s/ft
    double erp, cfm;
};

// Everything a contact joint needs; ODE is only touched by make_contact_joint.
struct ContactJointParams {
    dBodyID body1, body2;       // body2 null = the static world
    double point[3];
    double normal[3];           // body1 moves along it to separate
    double depth;
    double mu;
    double erp, cfm;
    bool has_direction;
    double direction[3];        // first friction direction, unit length
    dJointFeedback *feedback;   // may be null
};

// The wheel slices of Racer::wheel_contacts.
enum { CONTACT_FRONT = 0, CONTACT_REAR = 1 };

// Modes of a shape-against-shape test.
enum ContactMode { CONTACT_JOINT, CONTACT_FORCE, CONTACT_TEST };

// Tyre stiffness for a compression depth of a tube of the given radius.
ContactSoftness tyre_softness(double depth, double tube_radius);
ContactSoftness contact_softness(double kp, double kd);
// The tile's friction coefficient at a squared slip speed.
double tile_friction(const TileType *tile, double speed_sq);
// The tile's rolling resistance at a speed for the load share q (0..1).
double tile_roll_resistance(const TileType *tile, double speed, double q);
// 1, or less in arcade mode as the frame rolls.
double wheel_friction_factor(bool arcade, double roll);
// Creates the joint in the physics world's contact group; false without a world.
bool make_contact_joint(const ContactJointParams *p);

// The candidate-cell scan: the deepest contact of a torus or a sphere with the
// terrain, with the tie rule and normal clean-up of the wheel. Depth 0 = none.
double wheel_terrain_hit(const Terrain *t, const double centre[3], const double axle[3],
                         double torus_radius, double tube_radius, ContactHit *out);
double probe_terrain_sphere(const Terrain *t, const double centre[3], double radius,
                            ContactHit *out);

// The wheel test of one wheel (CONTACT_FRONT or CONTACT_REAR): fills the racer's
// wheel contact record and, when make_joints, creates the tyre joint and applies
// rolling resistance. True when the wheel touches.
bool wheel_terrain_contact(Racer *racer, const Terrain *t, int wheel, bool make_joints);
// The part shapes (frame, fork upper, fork lower, swingarm, rider) against the
// terrain, with the head-first crash and incident rules when make_joints. True
// when any touched.
bool part_terrain_contacts(Racer *racer, const Terrain *t, bool make_joints);
// Both wheels and all parts without joints or forces; for placing bikes clear of
// the ground. Leaves the wheel records as measured.
bool terrain_touch_test(Racer *racer, const Terrain *t);

// Two shapes on two bodies (body null = static, placed by position and rotation).
// Returns whether any sphere pair touched.
bool shape_contacts(const Shape *s1, dBodyID b1, const double pos1[3], const double rot1[12],
                    const Shape *s2, dBodyID b2, const double pos2[3], const double rot2[12],
                    ContactMode mode);
// One wheel of the racer against a shape; takes over the wheel record when the
// wheel has no terrain contact.
bool wheel_shape_contacts(Racer *racer, int wheel, const Shape *s2, dBodyID b2,
                          const double pos2[3], const double rot2[12], ContactMode mode);

// Every part of A against every part of B. Returns the touched parts of each as
// bit masks (1 << RacerBody). peer_test: B is a network peer, so the listed pairs
// are only tested.
struct RiderTouch {
    unsigned a_parts, b_parts;      // parts of A (B) that touched the other
    bool a_hit_b, b_hit_a;          // A's (B's) front wheel or fork lower touched the other
    bool front_to_front;            // a front part of each touched the other's
};
RiderTouch rider_contacts(Racer *a, Racer *b, ContactMode mode, bool peer_test);
// How far any part of the racer (wheels as tori, parts by their shapes' bounding
// radii) reaches from its frame's position, with a small margin.
double racer_reach(const Racer *racer);
// True when two racers with these reaches are too far apart for any part pair to
// be tested: rider_contacts would find nothing.
bool racers_out_of_reach(const Racer *a, double reach_a, const Racer *b, double reach_b);
// The mode for a pair this tick: "force" when either already had a rider contact.
ContactMode rider_contact_mode(const Racer *a, const Racer *b, int frame);
// The contact-timer rules after a touch, and the contact bookkeeping.
void rider_contact_rules(Racer *a, Racer *b, const RiderTouch &touch, int frame);

// Static track objects near the frame against the racer's wheels and parts.
bool static_object_contacts(Racer *racer);
// The frame number object contacts mark on the statues they touch.
void contacts_set_frame(int frame);

// Every contact of one racer with the loaded track (terrain and static objects).
// Returns whether anything touched.
bool racer_contacts(Racer *racer);
