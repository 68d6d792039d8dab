// Fisheye swelling around the centre: inside a circle on screen the picture is magnified, twice
// at the centre and blending smoothly back to unchanged at the rim.
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

const float kRadius = 0.55;   // in screen widths
const float kStrength = 0.5;  // the centre is read at half its distance: 2x magnification

void main() {
    vec2 offset = v_texCoord - u_center;
    // Screen-round distance: s runs down the screen, t across; u_scale carries the aspect.
    vec2 onScreen = offset * u_scale.yx;
    float inside = 1.0 - min(dot(onScreen, onScreen) / (kRadius * kRadius), 1.0);
    // 1 - k (1 - u)^2 keeps the mapping monotonic and meets the identity with slope 1 at the rim.
    float scale = 1.0 - kStrength * inside * inside;
    gl_FragColor = texture2D(s_texture, u_center + offset * scale);
}
