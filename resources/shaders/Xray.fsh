// A glowing negative: the luminance inverted, local contrast lifted so that outlines shine,
// a soft halo from the neighbourhood, all toned from deep navy to cold blue-white.
// Full precision where the fragment stage offers it, mediump elsewhere.
#ifdef GL_FRAGMENT_PRECISION_HIGH
precision highp float;
#else
precision mediump float;
#endif

uniform sampler2D s_texture;

varying vec2 v_texCoord;
varying vec4 v_haloA;
varying vec4 v_haloB;

const vec3 kLuma = vec3(0.299, 0.587, 0.114);
const vec3 kNight = vec3(0.0, 0.02, 0.07);
const vec3 kCold = vec3(0.42, 0.70, 1.0);

void main() {
    float inverse = 1.0 - dot(texture2D(s_texture, v_texCoord).rgb, kLuma);
    float halo = 1.0 - 0.25 * (dot(texture2D(s_texture, v_haloA.xy).rgb, kLuma) +
                               dot(texture2D(s_texture, v_haloA.zw).rgb, kLuma) +
                               dot(texture2D(s_texture, v_haloB.xy).rgb, kLuma) +
                               dot(texture2D(s_texture, v_haloB.zw).rgb, kLuma));
    float glow = clamp(0.8 * inverse + 0.25 * halo + 0.6 * (inverse - halo), 0.0, 1.0);
    // Blue rises first; red and green catch up only in the brightest parts, which burn white.
    vec3 colour = kNight + kCold * glow + (vec3(1.0) - kCold) * glow * glow * glow;
    gl_FragColor = vec4(min(colour, vec3(1.0)), 1.0);
}
