// Pinch: the picture around the centre drawn inward, the opposite of the bulge. Inside a circle
// on screen points are read farther out, most strongly near the centre.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;
uniform vec2 u_scale;
// The frame coordinate of the effect's centre (the middle of the view unless moved).
uniform vec2 u_center;

varying vec2 v_texCoord;

const float kRadius = 0.55;  // in screen widths
// The centre is read 1.7 times farther out; any strength below 1.25 keeps the mapping monotonic.
const float kStrength = 0.7;

void main() {
    vec2 offset = v_texCoord - u_center;
    vec2 onScreen = offset * u_scale.yx;
    float inside = 1.0 - min(dot(onScreen, onScreen) / (kRadius * kRadius), 1.0);
    float scale = 1.0 + kStrength * inside * inside;
    gl_FragColor = texture2D(s_texture, u_center + offset * scale);
}
