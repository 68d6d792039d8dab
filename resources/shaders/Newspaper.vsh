// Hands the fragment stage its position on the halftone screen: centred screen coordinates
// in cells, on axes turned by 45 degrees.
attribute vec2 position;
attribute vec2 texCoord;

uniform mediump vec2 u_scale;

varying vec2 v_cell;

const float kCells = 56.0;  // halftone cells per screen width

void main() {
    // (across, down) in cells; s runs down the screen, t across.
    vec2 p = (texCoord.yx - 0.5) * u_scale * kCells;
    v_cell = vec2(p.x + p.y, p.y - p.x) * 0.70710678;
    gl_Position = vec4(position, 0.0, 1.0);
}
