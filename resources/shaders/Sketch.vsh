// Besides the frame coordinate, hands the fragment stage the eight neighbours of a 3 x 3
// edge filter (one screen pixel apart) and a position in pencil-stroke units for hatching.
// Computing them here lets every texture read use an interpolated coordinate as it stands.
attribute vec2 position;
attribute vec2 texCoord;

uniform mediump vec2 u_scale;

varying vec2 v_texCoord;
varying vec4 v_above;   // (s - 1, t - 1), (s - 1, t)
varying vec4 v_corner;  // (s - 1, t + 1), (s + 1, t - 1)
varying vec4 v_beside;  // (s, t - 1), (s, t + 1)
varying vec4 v_below;   // (s + 1, t), (s + 1, t + 1)
varying vec2 v_stroke;

// One screen pixel of the 320-pixel-wide surface, in frame coordinates (640 x 480 frame).
const vec2 kStep = vec2(1.5 / 640.0, 1.5 / 480.0);
// Pencil strokes per screen width.
const float kStrokes = 80.0;

void main() {
    vec2 ds = vec2(kStep.x, 0.0);
    vec2 dt = vec2(0.0, kStep.y);
    v_texCoord = texCoord;
    v_above = vec4(texCoord - ds - dt, texCoord - ds);
    v_corner = vec4(texCoord - ds + dt, texCoord + ds - dt);
    v_beside = vec4(texCoord - dt, texCoord + dt);
    v_below = vec4(texCoord + ds, texCoord + ds + dt);
    // Centred screen position (across, down) in screen widths, then in strokes.
    v_stroke = (texCoord.yx - 0.5) * u_scale * kStrokes;
    gl_Position = vec4(position, 0.0, 1.0);
}
