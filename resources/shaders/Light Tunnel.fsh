// A sharp disc around the centre; outside it each pixel repeats the disc's rim along its own ray
// from the centre, so the picture streaks outward like light down a tunnel.
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

const float kDisc = 0.22;  // radius of the sharp disc, in screen widths

void main() {
    // Inside the disc the frame is read at the interpolated coordinate itself, which keeps
    // full precision where fragment arithmetic is only mediump.
    vec4 sharp = texture2D(s_texture, v_texCoord);
    vec2 offset = v_texCoord - u_center;
    // Screen-round distance: s runs down the screen, t across; u_scale carries the aspect.
    float radius = length(offset * u_scale.yx);
    // The part of the offset that reaches the rim (1 inside the disc).
    float rim = min(kDisc / max(radius, 0.001), 1.0);
    // Eight reads from the rim a short way out along the ray soften each streak.
    float stride = (1.0 - rim) * 0.035;
    vec4 sum = texture2D(s_texture, u_center + offset * rim);
    sum += texture2D(s_texture, u_center + offset * (rim + stride));
    sum += texture2D(s_texture, u_center + offset * (rim + 2.0 * stride));
    sum += texture2D(s_texture, u_center + offset * (rim + 3.0 * stride));
    sum += texture2D(s_texture, u_center + offset * (rim + 4.0 * stride));
    sum += texture2D(s_texture, u_center + offset * (rim + 5.0 * stride));
    sum += texture2D(s_texture, u_center + offset * (rim + 6.0 * stride));
    sum += texture2D(s_texture, u_center + offset * (rim + 7.0 * stride));
    // The tunnel darkens a little towards its mouth.
    float shade = 1.0 - 0.3 * smoothstep(kDisc, 0.9, radius);
    vec3 streak = sum.rgb * (0.125 * shade);
    gl_FragColor = vec4(mix(streak, sharp.rgb, step(radius, kDisc)), 1.0);
}
